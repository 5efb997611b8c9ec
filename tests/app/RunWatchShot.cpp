// Saves two pictures of the window running a long script with quill-sqlcmd
// against quill-standin (2 ms away): one while the run is under way, with
// its progress and remaining time, and one after it, with the error list
// open on one of its errors and the log box gone to it.
//
//   run_watch_shot progress.png errors.png      (scripts/screenshot-run.sh runs it on Xvfb)
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdio>

#include "app/DropTarget.h"
#include "app/MainWindow.h"
#include "app/RunWatch.h"
#include "app/ScriptDrop.h"
#include "console/Console.h"
#include "exec/ScriptExecution.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;

namespace {

const char kPassword[] = "Shot-Pass-1";

// 2,000 batches into 订单; every 100th also into 明细, which is missing.
QByteArray script() {
    QByteArray text =
        "CREATE DATABASE [演示库]\nGO\nUSE [演示库]\nGO\n"
        "CREATE TABLE [dbo].[订单] ([id] int, [名称] nvarchar(50))\nGO\n";
    for (int n = 1; n <= 2000; ++n) {
        text += "INSERT INTO [dbo].[订单] VALUES (" + QByteArray::number(n) + ", N'订单 " +
                QByteArray::number(n) + "')\n";
        if (n % 100 == 0)
            text += "INSERT INTO [dbo].[明细] VALUES (" + QByteArray::number(n) + ")\n";
        text += "GO\n";
    }
    return text;
}

bool save(const QPixmap& picture, const char* path) {
    const bool saved = picture.save(QString::fromLocal8Bit(path));
    std::printf("%s %s\n", saved ? "saved" : "could not save", path);
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir dir;
    setenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath("state")).constData(), 1);
    QApplication app(argc, argv);
    if (argc < 3 || !dir.isValid())
        return 2;
    const QString bin = QCoreApplication::applicationDirPath() + "/../bin";

    QProcess standin;
    standin.start(bin + "/quill-standin",
                  {"--port", "0", "--password", kPassword, "--latency-ms", "2"});
    if (!standin.waitForReadyRead(10000))
        return 2;
    const QString server = "127.0.0.1," + QString::fromLatin1(standin.readLine().trimmed());
    QFile file(dir.filePath("降级 演示库.sql"));
    if (!file.open(QIODevice::WriteOnly))
        return 2;
    file.write(script());
    file.close();

    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    ProgramState state;
    state.setConnected(1);
    state.setConnectedServer(server);
    Console console(bin + "/quill-cmd", QDir::homePath());
    skin::SkinEngine skin;
    MainWindow window({boxes, opener, state, [] { return false; }, [](int) {}, console, &skin});
    window.show();
    window.编辑框1->setText(server);
    window.组合框1->setCurrentIndex(1);
    window.onAuthModeSelected();
    window.编辑框2->setText("sa");
    window.编辑框3->setText(kPassword);
    window.状态条1->setPartText(0, "已连接：Microsoft SQL Server 2019 (quill-standin)");
    // As a user does: the drop checks the script, then starts its console.
    emit window.拖放对象1->filesDropped(droppedFilesText({file.fileName()}));
    test::waitUntil([&] {
        return window.status(1).startsWith("SQL脚本已就绪") &&
               window.text(Control::编辑框4).contains("脚本检查：");
    });
    window.按钮4->setEnabled(true);
    window.按钮4->click();

    // Under way, once the pace is known.
    bool ok = test::waitUntil(
        [&] {
            const QRegularExpressionMatch m =
                QRegularExpression(" (\\d+)%，剩余").match(window.status(1));
            return m.hasMatch() && m.captured(1).toInt() >= 35;
        },
        60000);
    ok = ok && save(window.grab(), argv[1]);

    ok = ok && test::waitUntil([&] { return !window.scriptExecution().runUnderWay(); }, 120000);
    window.runWatch().openErrorList();
    ErrorListDialog* list = window.runWatch().errorList();
    // Side by side, within the screen.
    window.move(16, 120);
    list->move(window.frameGeometry().right() + 12, 120);
    QTableView* table = list->table();
    test::waitUntil([&] {
        return table->model()->rowCount() >= 20 && !list->failedBatchesText().contains("正在");
    });
    const QModelIndex row = table->model()->index(6, 0);
    table->setCurrentIndex(row);
    emit table->activated(row);
    test::pumpEvents(500);

    // Both windows as they stand on the screen.
    const QRect both = window.frameGeometry().united(list->frameGeometry()).adjusted(-4, -4, 4, 4);
    ok = ok && save(window.screen()->grabWindow(0, both.x(), both.y(), both.width(), both.height()),
                    argv[2]);

    console.stopConsole();
    standin.terminate();
    standin.waitForFinished();
    return ok ? 0 : 1;
}
