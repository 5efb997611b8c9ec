// quill-standin: a SQL Server stand-in for tests and the demo.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <csignal>
#include <cstdio>
#include <thread>

#include "CatalogFile.h"
#include "EventLog.h"
#include "Server.h"

namespace {

const char16_t* kDefaultVersion =
    u"SQL Server stand-in (quill-standin) - 10.50.1600.1 (X64) \n\tApr  2 2010 15:48:27 \n\t"
    u"Test and demo server: keeps databases, tables and row counts, stores no row data\n\t"
    u"on Linux (loopback only)\n";

// Lets a version text given on the command line hold line breaks and tabs.
QString unescape(const QString& s) {
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        QChar c = s[++i];
        out += c == 'n' ? QChar('\n') : c == 't' ? QChar('\t') : c;
    }
    return out;
}

int fail(const QString& why) {
    std::fprintf(stderr, "quill-standin: %s\n", qPrintable(why));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("quill-standin");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "A SQL Server stand-in for tests and the demo: it speaks TDS 7.4 on loopback, keeps "
        "databases, tables "
        "and row counts, and stores no row data.");
    parser.addHelpOption();
    parser.addOptions({
        {"host", "Loopback address to listen on.", "address", "127.0.0.1"},
        {"port", "Port to listen on; 0 picks a free one. The port is printed as the first line.",
         "port", "1433"},
        {"password", "Password of the login sa.", "password", "Standin-1"},
        {"catalog", "JSON file with the user databases, tables and row counts to start with.",
         "file"},
        {"version-text", "Text of @@version (\\n and \\t stand for line break and tab).", "text"},
        {"latency-ms",
         "Delay before answering each request (prelogin, login, batch, RPC): a server this far "
         "away.",
         "ms", "0"},
        {"latency-us", "The same delay in microseconds, for latencies below a millisecond.", "us",
         "0"},
        {"log",
         "File that receives one line per event (logins, batches, RPCs, errors, session ends).",
         "file"},
    });
    parser.process(app);

    bool ok = false;
    standin::Server::Options options;
    options.host = parser.value("host").toStdString();
    uint port = parser.value("port").toUInt(&ok);
    if (!ok || port > 65535)
        return fail("--port needs a number from 0 to 65535");
    options.port = static_cast<std::uint16_t>(port);
    const qlonglong latencyMs = parser.value("latency-ms").toLongLong(&ok);
    if (!ok || latencyMs < 0 || latencyMs > 3600000)
        return fail("--latency-ms needs a number of milliseconds up to an hour");
    const qlonglong latencyUs = parser.value("latency-us").toLongLong(&ok);
    if (!ok || latencyUs < 0 || latencyUs > 3600000000LL)
        return fail("--latency-us needs a number of microseconds up to an hour");
    if (parser.isSet("latency-ms") && parser.isSet("latency-us"))
        return fail("give --latency-ms or --latency-us, not both");
    options.latency = std::chrono::milliseconds(latencyMs) + std::chrono::microseconds(latencyUs);

    standin::ServerConfig config;
    config.password = parser.value("password").toStdU16String();
    config.versionText = parser.isSet("version-text")
                             ? unescape(parser.value("version-text")).toStdU16String()
                             : std::u16string(kDefaultVersion);
    standin::ServerState state(std::move(config));
    if (parser.isSet("catalog")) {
        QFile file(parser.value("catalog"));
        if (!file.open(QIODevice::ReadOnly))
            return fail("cannot read " + file.fileName());
        if (auto error = standin::loadCatalog(file.readAll(), state.catalog))
            return fail(file.fileName() + ": " + *error);
    }
    std::unique_ptr<standin::EventLog> log;
    if (parser.isSet("log")) {
        log = std::make_unique<standin::EventLog>(
            QFile::encodeName(parser.value("log")).toStdString());
        if (!log->ok())
            return fail("cannot write " + parser.value("log"));
    }

    // Signals are taken by sigwait below, never by a serving thread.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    standin::Server server(state, log.get(), options);
    if (auto error = server.listen())
        return fail(QString::fromStdString(*error));
    std::printf("%u\n", server.port());
    std::fflush(stdout);

    std::thread acceptor([&] { server.run(); });
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.stop();
    acceptor.join();
    return 0;
}
