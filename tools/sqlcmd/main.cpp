// quill-sqlcmd: runs SQL Server scripts of any size, as sqlcmd does.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "DbSession.h"
#include "Decoder.h"
#include "Interrupt.h"
#include "Options.h"
#include "Output.h"
#include "Printer.h"
#include "Script.h"
#include "StatusReporter.h"
#include "Variables.h"
#include "console/StatusChannel.h"

using namespace quill::sqlcmd;

namespace {

// Asks on the terminal, without echo; without a terminal there is no one to ask.
std::string promptPassword() {
    int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0) {
        return {};
    }
    termios saved{};
    const bool isTerminal = ::tcgetattr(tty, &saved) == 0;
    if (isTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        ::tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    const char prompt[] = "Password: ";
    (void)!::write(tty, prompt, sizeof prompt - 1);
    std::string password;
    char c;
    while (::read(tty, &c, 1) == 1 && c != '\n') {
        password += c;
    }
    (void)!::write(tty, "\n", 1);
    if (isTerminal) {
        ::tcsetattr(tty, TCSAFLUSH, &saved);
    }
    ::close(tty);
    return password;
}

int runScript(const Options& o, int outFd) {
    Output output(outFd, o.outputFile.empty() ? STDERR_FILENO : outFd, o.outputCodePage);
    Printer printer(output, o.messageLevel, o.outputFile.empty() ? o.errorsToStderr : -1);
    const char* journal = std::getenv(quill::console::kJournalVariable);
    StatusReporter status(quill::console::StatusWriter::fromEnvironment(), journal ? journal : "",
                          o.startBatch > 0 || o.startLine > 0);
    Interrupt interrupt(
        [&] {
            const auto at = status.forceInterrupted();
            const std::string batch = "batch " + std::to_string(at.number) + " (line " +
                                      std::to_string(at.firstLine) + ")";
            output.writeLast(at.inFlight ? "Sqlcmd: Warning: Interrupted without the server's "
                                           "confirmation: " +
                                               batch + " may still be running there.\n"
                                         : "Sqlcmd: Warning: Interrupted before " + batch +
                                               "; it and the batches after it were not sent.\n");
        },
        std::chrono::seconds(3));

    Variables vars;
    if (auto error = defineVariables(o, vars)) {
        printer.error(*error);
        return 1;
    }
    Script script(o, vars, printer, &status);
    script.setInterruptCheck(&Interrupt::requested);
    if (int code = script.prepare()) {
        return code;
    }
    auto address = parseServer(o.server);
    auto session = DbSession::open(o, *address, printer);
    if (!session) {
        return 1;
    }
    session->setInterruptCheck(&Interrupt::overdue);
    return script.run(*session);
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    Options options;
    ParseOutcome parsed = parseOptions(
        argc, argv, [](const char* n) { return std::getenv(n); }, options);
    if (!parsed.ok) {
        std::cerr << parsed.message << "\n";
        return 1;
    }
    if (options.help) {
        std::cout << usageText();
        return 0;
    }
    if (options.inputCodePage && !Decoder::supported(options.inputCodePage)) {
        std::cerr << "Sqlcmd: Error: Code page " << options.inputCodePage
                  << " is not supported here.\n";
        return 1;
    }
    if (!Output::supported(options.outputCodePage)) {
        std::cerr << "Sqlcmd: Error: Code page " << options.outputCodePage
                  << " is not supported here.\n";
        return 1;
    }
    if (!options.trusted && !options.user.empty() && !options.password) {
        options.password = promptPassword();
    }
    int outFd = STDOUT_FILENO;
    if (!options.outputFile.empty()) {
        outFd = ::open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (outFd < 0) {
            std::cerr << "Sqlcmd: Error: Error occurred while opening or operating on file "
                      << options.outputFile << " (Reason: " << std::strerror(errno) << ").\n";
            return 1;
        }
    }
    const int code = runScript(options, outFd);
    if (outFd != STDOUT_FILENO) {
        ::close(outFd);
    }
    return code;
}
