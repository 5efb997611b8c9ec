// How a flood of script output fares on its way to the log box. A script of
// 1,000,000 PRINT statements (50 MB of output) runs with quill-sqlcmd
// against quill-standin, through the real path: 按钮4's command line,
// quill-cmd, the reader thread, the output handler and 编辑框4 of the
// window (offscreen). The run is timed against the same client writing the
// same output to /dev/null, and the event loop's longest stall is the
// longest gap between ticks of a 10 ms timer. A second pass sends the same
// 50 MB from a plain generator, the worst case for the log box.
//
//   build/bench/console_log_bench [lines]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>

#include "app/MainWindow.h"
#include "console/Console.h"
#include "exec/ScriptExecution.h"
#include "support/TestServices.h"

using namespace quill;

namespace {

constexpr int kLineBytes = 50;  // the printed line, line break included
const char kPassword[] = "Bench-Pass-1";

// "(1 行受影响) 0000042 xxx…": 50 bytes with its line break.
QByteArray printedText(long n) {
    return "(1 行受影响) " + QByteArray::number(qlonglong(n)).rightJustified(7, '0') + " " +
           QByteArray(24, 'x');
}

bool writeScript(const QString& path, long lines) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray batch;
    for (long n = 0; n < lines; ++n) {
        batch += "PRINT N'" + printedText(n) + "'\n";
        if (n % 1000 == 999 || n == lines - 1) {
            file.write(batch + "GO\n");
            batch.clear();
        }
    }
    return true;
}

double secondsToDevNull(const QString& program, const QStringList& args) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, args);
    process.waitForFinished(-1);
    return double(timer.nsecsElapsed()) / 1e9;
}

// CPU time of the calling thread: on a busy machine a gap can be long
// because the GUI thread had no processor, not because it was working.
qint64 threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

struct Pass {
    double seconds;
    qint64 longestGapMs;
    qint64 longestGapCpuMs;  // GUI thread's own work within that gap
    qint64 longestCpuMs;     // the most work between two ticks
    long lines;
};

// Starts a console for the window, waits for its first prompt, then runs
// `start` and measures until `done` holds.
Pass throughTheLog(MainWindow& window, Console& console, exec::ScriptExecution& execution,
                   const std::function<void()>& start, const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(10);
    QElapsedTimer sinceTick;
    qint64 cpuAtTick = threadCpuMs();
    qint64 longestGapMs = 0, longestGapCpuMs = 0, longestCpuMs = 0;
    bool measuring = false;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 cpu = threadCpuMs();
        if (measuring) {
            if (sinceTick.elapsed() > longestGapMs) {
                longestGapMs = sinceTick.elapsed();
                longestGapCpuMs = cpu - cpuAtTick;
            }
            longestCpuMs = std::max(longestCpuMs, cpu - cpuAtTick);
        }
        cpuAtTick = cpu;
        sinceTick.restart();
        if (measuring ? done() : window.status(1).startsWith("SQL脚本已就绪"))
            loop.quit();
    });
    sinceTick.start();
    tick.start();

    console.startConsole(execution.consoleHandlers());
    loop.exec();

    QElapsedTimer run;
    run.start();
    measuring = true;
    start();
    loop.exec();
    return {double(run.nsecsElapsed()) / 1e9, longestGapMs, longestGapCpuMs, longestCpuMs,
            long(window.编辑框4->document().lineCount())};
}

void report(const char* what, double devNull, const Pass& pass, long lines) {
    std::printf("%s\n", what);
    std::printf("  to /dev/null:           %7.2f s\n", devNull);
    std::printf("  through the log box:    %7.2f s   ratio %.2fx\n", pass.seconds,
                pass.seconds / devNull);
    std::printf(
        "  longest event-loop gap: %7lld ms (GUI thread busy %lld ms of it; at most %lld ms "
        "between ticks)\n",
        pass.longestGapMs, pass.longestGapCpuMs, pass.longestCpuMs);
    std::printf("  log box holds %ld lines: %s\n", pass.lines,
                pass.lines >= lines ? "all of the output" : "OUTPUT MISSING");
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
    const QString here = QCoreApplication::applicationDirPath();
    const QString bin = QDir(here + "/../bin").absolutePath();

    QTemporaryDir dir;
    const QString script = dir.filePath("打印 一百万行.sql");
    if (!writeScript(script, lines))
        return 2;

    QProcess standin;
    standin.start(bin + "/quill-standin", {"--port", "0", "--password", kPassword});
    if (!standin.waitForReadyRead(10000))
        return 2;
    const QString server = "127.0.0.1," + QString::fromLatin1(standin.readLine().trimmed());
    qputenv("SQLCMDSERVER", server.toUtf8());
    qputenv("SQLCMDPASSWORD", kPassword);

    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    ProgramState state;
    state.setConnected(1);
    state.setConnectedServer(server);
    Console console(bin + "/quill-cmd", QDir::homePath());
    MainWindow window({boxes, opener, state, [] { return false; }, [](int) {}, console});
    window.show();
    exec::ScriptExecution execution(window, console, state, boxes);

    std::printf("console log benchmark: %ld lines of %d bytes (%.1f MB)\n\n", lines, kLineBytes,
                lines * kLineBytes / 1e6);

    const double clientDevNull =
        secondsToDevNull(bin + "/quill-sqlcmd", {"-U", "sa", "-i", script});
    window.setText(Control::编辑框5, script);
    window.组合框1->setCurrentIndex(1);
    window.onAuthModeSelected();
    window.编辑框3->setText(kPassword);
    const Pass run = throughTheLog(
        window, console, execution, [&] { execution.executeScript(); },
        [&] { return !execution.runUnderWay(); });
    report("A script run (quill-sqlcmd against quill-standin), goal at most 3x and 100 ms:",
           clientDevNull, run, lines);

    const QString generator = here + "/bench_lines";
    const QStringList args{QString::number(lines), QString::number(kLineBytes)};
    const double generatorDevNull = secondsToDevNull(generator, args);
    const Pass flood = throughTheLog(
        window, console, execution,
        [&] { console.sendCommandLine(generator + " " + args.join(' ')); },
        [&] { return window.编辑框4->document().lineCount() > lines; });
    std::printf("\n");
    report("The same output from a plain generator (the log box's own pace):", generatorDevNull,
           flood, lines);
    std::printf("  log box pace: %.0f lines/s\n", double(lines) / flood.seconds);

    console.stopConsole();
    standin.terminate();
    standin.waitForFinished();
    return run.lines >= lines && flood.lines >= lines ? 0 : 1;
}
