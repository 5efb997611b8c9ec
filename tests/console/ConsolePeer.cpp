// A stand-in interpreter for the runner's tests, so that they decide
// exactly which bytes arrive in which write. Each input line is a command:
//   w <hex>    write these bytes in one write
//   pid        write this process's id and a line break
//   q          exit
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("w ", 0) == 0) {
            std::string bytes;
            for (std::size_t i = 2; i + 1 < line.size(); i += 2)
                bytes += char(std::stoi(line.substr(i, 2), nullptr, 16));
            if (::write(1, bytes.data(), bytes.size()) < 0)
                return 1;
        } else if (line == "pid") {
            std::string text = std::to_string(::getpid()) + "\n";
            if (::write(1, text.data(), text.size()) < 0)
                return 1;
        } else if (line == "q") {
            return 0;
        }
    }
    return 0;
}
