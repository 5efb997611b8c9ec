#include "SampleWindow.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>

#include "support/Wait.h"

namespace quill::test {

std::unique_ptr<QMainWindow> makeSampleWindow() {
    auto window = std::make_unique<QMainWindow>();
    auto* central = new QWidget;
    window->setCentralWidget(central);
    window->setFixedSize(545, 390);

    auto* group = new QGroupBox("连接SQL Server", central);
    group->setGeometry(8, 8, 224, 160);
    new QLabel("服务器：", group);
    auto* server = new QLineEdit("127.0.0.1", group);
    server->setGeometry(65, 20, 143, 20);
    auto* mode = new QComboBox(group);
    mode->addItems({"Windows 身份验证", "SQL Server 身份验证"});
    mode->setGeometry(65, 46, 143, 20);
    auto* user = new QLineEdit("Administrator", group);
    user->setGeometry(65, 72, 143, 20);
    user->setEnabled(false);
    auto* connect = new QPushButton("连接", group);
    connect->setGeometry(138, 127, 70, 24);

    auto* list = new QTreeWidget(central);
    list->setGeometry(8, 176, 224, 132);
    list->setHeaderLabels({"序号", "数据库名称"});
    list->addTopLevelItem(new QTreeWidgetItem(QStringList{"1", "master"}));
    list->addTopLevelItem(new QTreeWidgetItem(QStringList{"2", "销售数据"}));
    auto* run = new QPushButton("执行SQL脚本", central);
    run->setGeometry(410, 313, 120, 24);
    run->setEnabled(false);

    auto* log = new QPlainTextEdit(central);
    log->setGeometry(240, 104, 290, 204);
    log->setPlainText(QString("已更改数据库上下文。\n").repeated(20));

    auto* status = new QLabel("已连接");
    window->statusBar()->addWidget(status);
    return window;
}

QImage snapshot(QWidget& window) {
    // A style change reaches nested widgets over several rounds of posted events.
    pumpEvents(50);
    return window.grab().toImage();
}

}  // namespace quill::test
