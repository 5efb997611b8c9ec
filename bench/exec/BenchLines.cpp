// Prints <lines> lines of <width> bytes each (line break included), as a
// long script run would: the producer of the console benchmark.
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    const long lines = std::atol(argv[1]);
    const std::size_t width = std::size_t(std::atol(argv[2]));
    std::string line = "(1 行受影响) 0000000 ";
    if (width <= line.size() + 1)
        return 2;
    line.resize(width - 1, 'x');
    line += '\n';
    for (long i = 0; i < lines; ++i) {
        // The line number, so that no two lines are alike.
        for (long n = i, at = 23; at >= 17; --at, n /= 10)
            line[std::size_t(at)] = char('0' + n % 10);
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return 0;
}
