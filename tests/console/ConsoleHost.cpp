// Starts a console with the interpreter named first on the command line,
// sends it the command line given second (to keep it busy), prints the
// interpreter's process id, then "client <pid>" once the interpreter has
// started the command's program, and waits to be killed: the test of what
// happens to the interpreter and its program when their program dies.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "console/Console.h"

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    quill::Console console(QString::fromLocal8Bit(argv[1]), "/");
    console.startConsole({[](const QByteArray&) {},
                          [](const quill::console::StatusRecord& record) {
                              if (record.tag != "started" || record.numbers.empty())
                                  return;
                              const std::string line =
                                  "client " + std::to_string(record.numbers[0]) + "\n";
                              [[maybe_unused]] ssize_t n = ::write(1, line.data(), line.size());
                          },
                          {}});
    std::printf("%d\n", int(console.interpreterPid()));
    std::fflush(stdout);
    console.sendCommandLine(QString::fromLocal8Bit(argv[2]));
    for (;;)
        ::pause();
}
