// Starts a console with the interpreter named first on the command line,
// sends it the command line given second (to keep it busy), prints the
// interpreter's process id and waits to be killed: the test of what happens
// to the interpreter when its program dies.
#include <unistd.h>

#include <cstdio>

#include "console/Console.h"

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    quill::Console console(QString::fromLocal8Bit(argv[1]), "/");
    console.startConsole([](const QByteArray&) {});
    console.sendCommandLine(QString::fromLocal8Bit(argv[2]));
    std::printf("%d\n", int(console.interpreterPid()));
    std::fflush(stdout);
    for (;;)
        ::pause();
}
