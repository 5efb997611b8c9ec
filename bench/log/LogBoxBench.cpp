// How the log box bears a flood of output. Lines of 50 bytes ("(1 行受影响)
// 0000042 xxx…") are appended on the GUI thread, one chunk of about 128 KB
// per event-loop turn, as the script run hands them over, while the event
// loop runs (offscreen). Each pass runs in a process of its own so that one
// pass's freed memory cannot hide the next one's growth:
//   - the log view (document on disk), 10,000,000 lines (500 MB);
//   - the QPlainTextEdit the window used before, 1,000,000 lines;
//   - the document alone, without the event loop, to show its own pace.
// Figures: resident memory growth (sampled every 10 ms), the longest gap
// between ticks of a 10 ms timer (event-loop stall), and lines per second.
//
//   build/bench/log_box_bench [view lines] [plain text edit lines]
#include <unistd.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "app/log/LogView.h"
#include "app/log/RunLogStore.h"
#include "support/TestServices.h"

using namespace quill;

namespace {

constexpr int kLineBytes = 50;
constexpr int kLinesPerChunk = 2600;  // about 128 KB, the run's largest hand-over

qint64 residentBytes() {
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

// Lines first..first+count, as the console's parser hands them to the window.
QByteArray chunk(long first, long count) {
    QByteArray line = "(1 行受影响) 0000000 ";
    line.resize(kLineBytes - 2, 'x');
    line += "\r\n";
    QByteArray out;
    out.reserve(count * kLineBytes);
    for (long n = first; n < first + count; ++n) {
        for (long v = n, at = 23; at >= 17; --at, v /= 10)
            line[qsizetype(at)] = char('0' + v % 10);
        out += line;
    }
    return out;
}

struct Figures {
    double seconds = 0;
    qint64 growth = 0;
    qint64 longestGapMs = 0;
    long lines = 0;
};

// Appends lines through append(), one chunk a loop turn, until done() says
// the box shows them all.
Figures flood(long lines, const std::function<void(const QString&)>& append,
              const std::function<bool()>& done) {
    Figures f;
    f.lines = lines;
    const qint64 before = residentBytes();
    qint64 peak = before;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(10);
    QElapsedTimer sinceTick, run;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        f.longestGapMs = std::max(f.longestGapMs, sinceTick.restart());
        peak = std::max(peak, residentBytes());
    });
    long next = 0;
    QTimer feed;
    feed.setInterval(0);
    QObject::connect(&feed, &QTimer::timeout, [&] {
        if (next < lines) {
            const long n = std::min<long>(kLinesPerChunk, lines - next);
            append(QString::fromUtf8(chunk(next, n)));
            next += n;
        } else if (done()) {
            loop.quit();
        }
    });
    sinceTick.start();
    run.start();
    tick.start();
    feed.start();
    loop.exec();
    f.seconds = double(run.nsecsElapsed()) / 1e9;
    f.growth = std::max(peak, residentBytes()) - before;
    return f;
}

Figures viewPass(long lines) {
    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    test::ScriptedSaveDialogs dialogs;
    logbox::LogView view({boxes, opener, dialogs}, logbox::spoolFolder());
    view.resize(290, 204);
    view.show();
    QCoreApplication::processEvents();
    return flood(
        lines, [&](const QString& text) { view.document().appendText(text); },
        [&] {
            return view.lastVisibleLine() == view.document().lineCount() - 1 &&
                   view.verticalScrollBar()->value() == view.verticalScrollBar()->maximum() &&
                   view.document().lineCount() == lines + 1;
        });
}

Figures plainTextPass(long lines) {
    QPlainTextEdit edit;
    edit.setReadOnly(true);
    edit.resize(290, 204);
    edit.show();
    QCoreApplication::processEvents();
    return flood(
        lines,
        [&](const QString& text) {
            // The window's former appendLog.
            edit.moveCursor(QTextCursor::End);
            edit.insertPlainText(QString(text).remove('\r'));
            edit.ensureCursorVisible();
        },
        [&] { return edit.document()->blockCount() == lines + 1; });
}

Figures documentPass(long lines) {
    logbox::LogDocument doc(logbox::spoolFolder());
    Figures f;
    f.lines = lines;
    const qint64 before = residentBytes();
    QElapsedTimer run;
    qint64 spent = 0;
    for (long next = 0; next < lines; next += kLinesPerChunk) {
        const QByteArray bytes = chunk(next, std::min<long>(kLinesPerChunk, lines - next));
        run.start();
        doc.append(bytes);
        spent += run.nsecsElapsed();
    }
    f.seconds = double(spent) / 1e9;  // the appends only, not making the lines
    f.growth = residentBytes() - before;
    return f;
}

void print(const char* what, const Figures& f) {
    std::printf(
        "%-34s %9ld lines %7.2f s %11.0f lines/s  memory +%6.1f MB (%6.1f MB per million)  "
        "longest stall %5lld ms\n",
        what, f.lines, f.seconds, f.lines / f.seconds, f.growth / 1e6,
        f.growth / 1e6 / (f.lines / 1e6), f.longestGapMs);
}

// Runs one pass in a child process: "<seconds> <growth> <gap> <lines>".
bool runChild(const char* pass, long lines, Figures& f) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {"--pass", pass, QString::number(lines)});
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return false;
    const QList<QByteArray> v = child.readAllStandardOutput().trimmed().split(' ');
    if (v.size() != 4)
        return false;
    f = {v[0].toDouble(), v[1].toLongLong(), v[2].toLongLong(), v[3].toLong()};
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == "--pass") {
        const long lines = args[3].toLong();
        const Figures f = args[2] == "view"    ? viewPass(lines)
                          : args[2] == "plain" ? plainTextPass(lines)
                                               : documentPass(lines);
        std::printf("%.3f %lld %lld %ld\n", f.seconds, f.growth, f.longestGapMs, f.lines);
        return 0;
    }
    const long viewLines = args.size() > 1 ? args[1].toLong() : 10'000'000;
    const long plainLines = args.size() > 2 ? args[2].toLong() : 1'000'000;

    std::printf("log box benchmark: lines of %d bytes, %d lines a loop turn (offscreen)\n\n",
                kLineBytes, kLinesPerChunk);
    Figures document, view, plain;
    if (!runChild("document", viewLines, document) || !runChild("view", viewLines, view) ||
        !runChild("plain", plainLines, plain)) {
        std::fprintf(stderr, "log box benchmark: a pass failed\n");
        return 1;
    }
    print("document alone (no event loop)", document);
    print("log view, event loop running", view);
    print("QPlainTextEdit, event loop running", plain);
    const double perMillionView = view.growth / (view.lines / 1e6);
    const double perMillionPlain = plain.growth / (plain.lines / 1e6);
    std::printf("\nmemory per million lines: view %.1f MB, QPlainTextEdit %.1f MB (%.0fx less)\n",
                perMillionView / 1e6, perMillionPlain / 1e6, perMillionPlain / perMillionView);
    std::printf("pace: view %.2fx QPlainTextEdit's lines/s\n",
                (view.lines / view.seconds) / (plain.lines / plain.seconds));
    const bool met = view.growth < 100'000'000 && view.longestGapMs <= 50;
    std::printf("goals (growth < 100 MB, stall <= 50 ms over %ld lines): %s\n", view.lines,
                met ? "met" : "NOT MET");
    return met ? 0 : 1;
}
