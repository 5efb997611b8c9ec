// How a flood of script output fares on its way to the log box: 1,000,000
// lines (50 MB) printed by a program the console runs, through quill-cmd,
// the reader thread, the output handler and 编辑框4 of the real window
// (offscreen). It reports the whole run against the same program writing
// the same output to /dev/null, and the longest stall of the GUI event loop,
// seen as the longest gap between ticks of a 10 ms timer.
//
//   build/bench/console_log_bench [lines] [width]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/MainWindow.h"
#include "console/Console.h"
#include "exec/ScriptExecution.h"
#include "support/TestServices.h"

using namespace quill;

namespace {

double secondsToDevNull(const QString& producer, const QStringList& args) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(producer, args);
    process.waitForFinished(-1);
    return double(timer.nsecsElapsed()) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
    const long width = argc > 2 ? std::atol(argv[2]) : 50;
    const QString here = QCoreApplication::applicationDirPath();
    const QString producer = here + "/bench_lines";
    const QStringList args{QString::number(lines), QString::number(width)};

    const double devNull = secondsToDevNull(producer, args);

    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    ProgramState state;
    Console console(here + "/../bin/quill-cmd", QDir::homePath());
    MainWindow window({boxes, opener, state, [] { return false; }, [](int) {}, console});
    window.show();
    exec::ScriptExecution execution(window, console);

    QEventLoop loop;
    QTimer tick;
    tick.setInterval(10);
    QElapsedTimer sinceTick;
    qint64 longestGapMs = 0;
    bool measuring = false;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (measuring) longestGapMs = std::max(longestGapMs, sinceTick.elapsed());
        sinceTick.restart();
        if (window.isEnabled(Control::按钮4)) loop.quit();
    });
    sinceTick.start();
    tick.start();

    console.startConsole(execution.outputHandler());
    loop.exec();  // the interpreter's first prompt
    window.setEnabled(Control::按钮4, false);

    QElapsedTimer run;
    run.start();
    measuring = true;
    console.sendCommandLine(QDir::toNativeSeparators(producer) + " " + args.join(' '));
    loop.exec();
    const double throughLog = double(run.nsecsElapsed()) / 1e9;
    measuring = false;

    const QString log = window.text(Control::编辑框4);
    const long shown = long(window.编辑框4->document()->blockCount());
    const qint64 expectedChars = qint64(lines) * (width - 8);  // 行受影响 are 4 characters in 12 bytes
    const bool complete = shown >= lines && log.size() >= expectedChars;

    std::printf("console log benchmark: %ld lines of %ld bytes (%.1f MB)\n", lines, width, lines * width / 1e6);
    std::printf("  to /dev/null:           %7.3f s\n", devNull);
    std::printf("  through the log box:    %7.3f s   ratio %.2fx (goal at most 3x)\n", throughLog, throughLog / devNull);
    std::printf("  longest event-loop gap: %7lld ms  (goal at most 100 ms)\n", longestGapMs);
    std::printf("  log holds %ld lines, %lld characters: %s\n", shown, qint64(log.size()),
                complete ? "all of the output" : "OUTPUT MISSING");
    console.stopConsole();
    return complete ? 0 : 1;
}
