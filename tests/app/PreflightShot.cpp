// Pictures of the pre-flight and of resuming, on the real window against
// the stand-in: a GBK script dropped and run (its report in the log, its
// Chinese as the server got it), then a long script stopped, dropped again
// and the question where to go on, and the run that goes on.
//
//   preflight_shot <folder>     (scripts/screenshot-preflight.sh runs it on Xvfb)
// Writes preflight-gbk.png (the report), preflight-gbk-run.png,
// preflight-resume.png (the question) and preflight-resumed.png there.
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <cstdio>

#include "app/MainWindow.h"
#include "app/QtChoices.h"
#include "console/Console.h"
#include "preflight/Encode.h"
#include "support/StandinServer.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;

namespace {

// Qt's own question, pictured with the window behind it, then answered
// with its first option.
class PicturedChoices : public Choices {
public:
    PicturedChoices(QString picture, QWidget*& window)
        : picture_(std::move(picture)), window_(window) {}
    int choose(const QString& caption, const QString& text, const QStringList& options) override {
        QTimer::singleShot(700, [this] {
            const QRect area = window_->geometry();
            saved = QGuiApplication::primaryScreen()
                        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                        .save(picture_);
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->buttons().constFirst()->click();
        });
        return QtChoices().choose(caption, text, options);
    }
    bool saved = false;

private:
    QString picture_;
    QWidget*& window_;
};

void drop(MainWindow& window, const QString& path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    const QPoint at = window.编辑框5->mapTo(&window, window.编辑框5->rect().center());
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.windowHandle(), &enter);
    QDropEvent event(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.windowHandle(), &event);
}

QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return file.fileName();
}

int fail(const char* step) {
    std::fprintf(stderr, "preflight_shot: %s\n", step);
    return 1;
}

bool save(QWidget& window, const QString& path) {
    test::pumpEvents(300);
    const bool saved = window.grab().save(path);
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    QTemporaryDir dir;

    test::StandinServer::Options slow;
    slow.latencyMs = 15;
    test::StandinServer server(slow);
    if (!server.isRunning())
        return fail("the stand-in did not start");
    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    QWidget* shown = nullptr;
    PicturedChoices choices(out.filePath("preflight-resume.png"), shown);
    ProgramState programState;
    Console console(QCoreApplication::applicationDirPath() + "/../bin/quill-cmd", QDir::homePath());
    skin::SkinEngine skin;
    WindowServices services{boxes,      opener,  programState, [] { return false; },
                            [](int) {}, console, &skin};
    services.choices = &choices;
    MainWindow window(services);
    window.show();
    shown = &window;

    window.编辑框1->setText(server.serverText());
    window.组合框1->setCurrentIndex(1);
    window.onAuthModeSelected();
    window.编辑框2->setText(server.login());
    window.编辑框3->setText(server.password());
    window.按钮1->click();
    if (!test::waitUntil([&] { return window.按钮4->isEnabled(); }, 10000))
        return fail("no connection");
    auto idle = [&] {
        return test::waitUntil(
            [&] { return window.按钮4->isEnabled() && window.按钮4->text() == "执行SQL脚本"; },
            60000);
    };

    const std::string gbk = test::encodeAs(
        "USE [master]\r\nGO\r\nCREATE DATABASE [订单库] ON PRIMARY ( NAME = N'订单库', FILENAME = "
        "N'C:\\Program Files\\Microsoft SQL Server\\MSSQL15.MSSQLSERVER\\MSSQL\\DATA\\订单库.mdf' "
        ")\r\nGO\r\nUSE [订单库]\r\nGO\r\nCREATE TABLE [dbo].[客户]([编号] [int], [名称] "
        "[nvarchar](50))\r\nGO\r\nINSERT [dbo].[客户] ([编号], [名称]) VALUES (1, N'张三丰')\r\n"
        "INSERT [dbo].[客户] ([编号], [名称]) VALUES (2, N'李四')\r\nGO\r\n"
        "PRINT N'已导入客户：张三丰、李四'\r\nGO\r\n",
        "GBK");
    drop(window, write(dir, "订单库（GBK）.sql", QByteArray::fromStdString(gbk)));
    if (!test::waitUntil([&] { return window.text(Control::编辑框4).contains("批次："); }))
        return fail("no report");
    // The report from its first line.
    window.编辑框4->goToLine(2);
    window.编辑框4->select({0, 0}, {0, 0});
    if (!save(window, out.filePath("preflight-gbk.png")))
        return fail("preflight-gbk.png");
    window.按钮4->click();
    if (!idle() || !save(window, out.filePath("preflight-gbk-run.png")))
        return fail("preflight-gbk-run.png");

    QByteArray long_ = "USE [订单库]\nGO\n";
    for (int row = 3; row <= 600; ++row)
        long_ += "INSERT [dbo].[客户] ([编号], [名称]) VALUES (" + QByteArray::number(row) +
                 ", N'客户" + QByteArray::number(row) + "')\nGO\n";
    const QString script = write(dir, "客户数据.sql", long_);
    drop(window, script);
    // The new console's banner replaces the log, then the report follows.
    if (!test::waitUntil([&] {
            const QString log = window.text(Control::编辑框4);
            return log.contains("批次：") && !log.contains("已导入客户");
        }))
        return fail("no report of the long script");
    window.按钮4->click();
    if (!test::waitUntil([&] { return server.logEvents("batch").size() >= 250; }, 30000))
        return fail("the long script does not run");
    window.按钮4->click();  // stop; the box is answered OK
    if (!idle())
        return fail("the stop did not end the run");
    drop(window, script);  // asks where to go on: pictured, then the first option
    if (!test::waitUntil([&] { return choices.saved; }, 10000))
        return fail("no question pictured");
    std::printf("saved %s\n", qPrintable(out.filePath("preflight-resume.png")));
    window.按钮4->click();
    if (!idle())
        return fail("the resumed run did not end");
    // From where it went on.
    const QString log = window.text(Control::编辑框4);
    window.编辑框4->goToLine(log.left(log.indexOf("从第")).count('\n'));
    if (!save(window, out.filePath("preflight-resumed.png")))
        return fail("preflight-resumed.png");
    return 0;
}
