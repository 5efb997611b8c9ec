// How a flood of script output fares on its way to the log box. A script of
// PRINT statements (10,000,000 lines, about 500 MB of output, by default)
// runs with quill-sqlcmd against quill-standin through the real path:
// 按钮4's command line, quill-cmd, the reader thread, the output handler,
// the run's log file and 编辑框4 of the window (offscreen), with the run's
// progress shown as in the program. Beside it, in the same run, the same
// client writes the same output to /dev/null (the goal's yardstick, before
// and after the window's pass) and to a file (this machine's physical limit).
//
// Figures: the times and their ratios, the window process's resident memory
// growth (sampled every 10 ms), the longest gap between ticks of a 10 ms
// timer (an event-loop stall), the longest gap between two progress
// updates, and whether the log box and the run's log file hold every line.
//
//   build/bench/console_log_bench [lines]
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>

#include "app/DropTarget.h"
#include "app/MainWindow.h"
#include "app/RunWatch.h"
#include "app/ScriptDrop.h"
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

double secondsWritingTo(const QString& program, const QStringList& args, const QString& output) {
    QProcess process;
    process.setStandardOutputFile(output);
    QElapsedTimer timer;
    timer.start();
    process.start(program, args);
    process.waitForFinished(-1);
    return double(timer.nsecsElapsed()) / 1e9;
}

qint64 residentBytes() {
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

// CPU time of the calling thread: on a busy machine a gap can be long
// because the GUI thread had no processor, not because it was working.
qint64 threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

struct Pass {
    double seconds = 0;
    qint64 longestGapMs = 0;
    qint64 longestGapCpuMs = 0;  // GUI thread's own work within that gap
    qint64 growth = 0;           // resident memory, peak over the start
    qint64 longestProgressGapMs = -1;
    int progressUpdates = 0;
    long lines = 0;
};

// Drops `script` on the window as a user does (its check, then its console),
// waits until it is ready to run, then runs `start` and measures until
// `done` holds.
Pass throughTheWindow(MainWindow& window, const QString& script,
                      const std::function<void()>& start, const std::function<bool()>& done) {
    Pass pass;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(10);
    QElapsedTimer sinceTick, sinceProgress;
    qint64 cpuAtTick = threadCpuMs();
    bool measuring = false;
    qint64 before = 0, peak = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 cpu = threadCpuMs();
        if (measuring) {
            if (sinceTick.elapsed() > pass.longestGapMs) {
                pass.longestGapMs = sinceTick.elapsed();
                pass.longestGapCpuMs = cpu - cpuAtTick;
            }
            peak = std::max(peak, residentBytes());
        }
        cpuAtTick = cpu;
        sinceTick.restart();
        if (measuring ? done()
                      : window.status(1).startsWith("SQL脚本已就绪") &&
                            window.text(Control::编辑框4).contains("脚本检查："))
            loop.quit();
    });
    const QMetaObject::Connection progress =
        QObject::connect(&window.runWatch().progress(), &exec::ProgressWatch::progressed, [&] {
            if (pass.progressUpdates++ > 0)
                pass.longestProgressGapMs =
                    std::max(pass.longestProgressGapMs, sinceProgress.elapsed());
            sinceProgress.restart();
        });
    sinceTick.start();
    tick.start();

    emit window.拖放对象1->filesDropped(droppedFilesText({script}));
    loop.exec();

    QElapsedTimer run;
    before = peak = residentBytes();
    run.start();
    sinceProgress.start();
    measuring = true;
    start();
    loop.exec();
    pass.seconds = double(run.nsecsElapsed()) / 1e9;
    pass.growth = std::max(peak, residentBytes()) - before;
    pass.lines = long(window.编辑框4->document().lineCount());
    QObject::disconnect(progress);
    return pass;
}

void report(const Pass& pass, long lines) {
    std::printf("  longest event-loop gap:   %7lld ms (GUI thread busy %lld ms of it)\n",
                pass.longestGapMs, pass.longestGapCpuMs);
    std::printf("  resident memory growth:   %7.1f MB\n", double(pass.growth) / 1e6);
    if (pass.progressUpdates > 0)
        std::printf("  progress updates:         %7d, at most %lld ms apart\n",
                    pass.progressUpdates, pass.longestProgressGapMs);
    std::printf("  log box holds %ld lines: %s\n", pass.lines,
                pass.lines >= lines ? "all of the output" : "OUTPUT MISSING");
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The run logs and the log box's spool go where the benchmark cleans up.
    QTemporaryDir dir;
    setenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath("state")).constData(), 1);
    setenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath("cache")).constData(), 1);
    QApplication app(argc, argv);
    const long lines = argc > 1 ? std::atol(argv[1]) : 10'000'000;
    const QString here = QCoreApplication::applicationDirPath();
    const QString bin = QDir(here + "/../bin").absolutePath();

    const QString script = dir.filePath("打印 一千万行.sql");
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
    exec::ScriptExecution& execution = window.scriptExecution();

    std::printf(
        "console log benchmark: %ld lines of %d bytes (%.1f MB), quill-sqlcmd against "
        "quill-standin\n\n",
        lines, kLineBytes, lines * kLineBytes / 1e6);

    const QString client = bin + "/quill-sqlcmd";
    const QStringList args{"-U", "sa", "-i", script};
    const double devNullBefore = secondsWritingTo(client, args, QProcess::nullDevice());
    const QString outFile = dir.filePath("output.txt");
    const double toFile = secondsWritingTo(client, args, outFile);
    const qint64 outputBytes = QFileInfo(outFile).size();
    QFile::remove(outFile);

    window.组合框1->setCurrentIndex(1);
    window.onAuthModeSelected();
    window.编辑框3->setText(kPassword);
    const Pass run = throughTheWindow(
        window, script, [&] { execution.executeScript(); },
        [&] { return !execution.runUnderWay(); });
    const qint64 runLogBytes = QFileInfo(window.编辑框4->document().runLogPath()).size();
    const double devNullAfter = secondsWritingTo(client, args, QProcess::nullDevice());
    const double devNull = (devNullBefore + devNullAfter) / 2;

    std::printf("  to /dev/null:             %7.2f s (%.2f s before, %.2f s after the window)\n",
                devNull, devNullBefore, devNullAfter);
    std::printf("  to a file:                %7.2f s   ratio %.2fx (the physical limit)\n", toFile,
                toFile / devNull);
    std::printf("  through the window:       %7.2f s   ratio %.2fx   goal at most 1.2x\n",
                run.seconds, run.seconds / devNull);
    report(run, lines);
    std::printf("  run log holds %lld of %lld bytes: %s\n", runLogBytes, outputBytes,
                runLogBytes == outputBytes ? "all of the output" : "OUTPUT MISSING");
    std::printf(
        "  goals: ratio %s, memory %s, stalls %s, progress %s\n",
        run.seconds / devNull <= 1.2 ? "met" : "MISSED",
        run.growth < 100'000'000 ? "met" : "MISSED", run.longestGapMs <= 50 ? "met" : "MISSED",
        run.longestProgressGapMs >= 0 && run.longestProgressGapMs <= 1000 ? "met" : "MISSED");

    console.stopConsole();
    standin.terminate();
    standin.waitForFinished();
    return run.lines >= lines && runLogBytes == outputBytes ? 0 : 1;
}
