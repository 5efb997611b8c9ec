// Saves a picture of the window with a long log: scrolled to the middle,
// a selection across lines, the find bar open on a Chinese word.
//
//   log_box_shot out.png [lines]      (scripts/screenshot-log.sh runs it on Xvfb)
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QScrollBar>
#include <QTimer>
#include <cstdio>

#include "app/MainWindow.h"
#include "app/log/FindBar.h"
#include "console/Console.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const int lines = argc > 2 ? std::atoi(argv[2]) : 200000;

    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    ProgramState state;
    Console console(QCoreApplication::applicationDirPath() + "/../bin/quill-cmd", QDir::homePath());
    skin::SkinEngine skin;
    MainWindow window({boxes, opener, state, [] { return false; }, [](int) {}, console, &skin});
    window.show();

    logbox::LogDocument& log = window.编辑框4->document();
    log.appendText(" -------------Quillrun-------------- \n\n");
    QByteArray output;
    qint64 line = log.lineCount() - 1;
    for (int n = 0; n < lines; ++n, ++line) {
        output += "(1 行受影响) 第" + QByteArray::number(n) + " 批 INSERT INTO dbo.订单 ...\r\n";
        if (n % 5000 == 4321) {
            output += "Msg 547, Level 16, State 0, Line " + QByteArray::number(n) +
                      "\r\nINSERT 语句与 FOREIGN KEY 约束\"FK_订单_客户\"冲突。\r\n";
            log.markLine(line + 1);
            log.markLine(line + 2);
            line += 2;
        }
    }
    log.appendOutput(output);
    log.appendText("\n处理完成，根据返回信息查看。");

    test::waitUntil([&] { return window.编辑框4->verticalScrollBar()->maximum() > 0; });
    // From the middle of the log, find the next error; then select across
    // the lines above it, the find bar still open.
    window.编辑框4->goToLine(log.lineCount() / 2);
    window.编辑框4->openFindBar();
    window.编辑框4->findBar()->edit()->setText("约束");
    window.编辑框4->find("约束", false, true);
    test::waitUntil([&] { return !window.编辑框4->isSearching(); });
    const qint64 hit = window.编辑框4->selectionStart().line;
    window.编辑框4->goToLine(hit);
    window.编辑框4->select({hit - 3, 9}, {hit - 2, 14});
    window.activateWindow();
    window.编辑框4->findBar()->edit()->setFocus();
    test::pumpEvents(300);

    const bool saved = window.grab().save(QString::fromLocal8Bit(argv[1]));
    std::printf("%s %s\n", saved ? "saved" : "could not save", argv[1]);
    return saved ? 0 : 1;
}
