#include "app/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTimer>
#include <limits>

#include "app/Artwork.h"
#include "app/QtChoices.h"
#include "app/QtSaveDialogs.h"
#include "app/RunWatch.h"
#include "app/ScriptDrop.h"
#include "app/WindowFlows.h"
#include "app/log/DocumentRunLog.h"
#include "app/log/RunLogStore.h"
#include "console/Console.h"
#include "exec/ScriptExecution.h"
#include "preflight/PreflightFlow.h"

namespace quill {

namespace {

// Draws with the combo box's own delegate, each row 2 pixels taller.
class TallerRows : public QAbstractItemDelegate {
public:
    TallerRows(QAbstractItemDelegate* inner, QObject* parent)
        : QAbstractItemDelegate(parent), inner_(inner) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        inner_->paint(painter, option, index);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return inner_->sizeHint(option, index) + QSize(0, 2);
    }

private:
    QAbstractItemDelegate* inner_;
};

// Enabled boxes only: disabled ones keep the style's greyed look.
QPalette blackOnWhite(QPalette palette) {
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Base, Qt::white);
        palette.setColor(group, QPalette::Text, Qt::black);
    }
    return palette;
}

QFont gb2312Font(QFont font) {
    font.setPixelSize(14);
    font.setWeight(QFont::Normal);
    return font;
}

// The most of the log that text(编辑框4) returns: its last lines within 16 MB.
constexpr qsizetype kLogTextLimit = 16 * 1024 * 1024;

template <class W>
W* named(W* widget, const char* name, const QRect& geometry) {
    widget->setObjectName(QString::fromUtf8(name));
    widget->setGeometry(geometry);
    return widget;
}

}  // namespace

MainWindow::MainWindow(const WindowServices& services) : services_(services) {
    setWindowTitle("Quillstep 2.0");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    createControls();
    nameForScreenReaders();
    chainTabStops();
    setPointers();
    wireHandlers();
    placeCentred();
    onMainWindowCreated();
}

MainWindow::~MainWindow() {
    onMainWindowDestroy();
}

void MainWindow::createControls() {
    auto label = [this](QWidget* parent, const char* name, const char* caption, QRect geometry) {
        auto* l = named(new QLabel(QString::fromUtf8(caption), parent), name, geometry);
        l->setFont(gb2312Font(font()));
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        return l;
    };
    auto edit = [](QWidget* parent, const char* name, const char* initial, QRect geometry) {
        auto* e = named(new QLineEdit(QString::fromUtf8(initial), parent), name, geometry);
        e->setPalette(blackOnWhite(e->palette()));
        e->setFocusPolicy(Qt::ClickFocus);
        e->setMaxLength(std::numeric_limits<int>::max());  // Qt's default cuts at 32767
        return e;
    };
    auto button = [](QWidget* parent, const char* name, const char* caption, QRect geometry) {
        auto* b = named(new QPushButton(QString::fromUtf8(caption), parent), name, geometry);
        b->setAutoDefault(false);
        return b;
    };

    分组框1 = named(new QGroupBox("连接SQL Server", this), "分组框1", {8, 8, 224, 160});
    透明标签1 = label(分组框1, "透明标签1", "服务器：", {10, 17, 52, 22});
    编辑框1 = edit(分组框1, "编辑框1", "127.0.0.1", {65, 20, 143, 20});
    透明标签4 = label(分组框1, "透明标签4", "身份证：", {10, 43, 52, 22});

    组合框1 = named(new QComboBox(分组框1), "组合框1", {65, 46, 143, 20});
    组合框1->addItems({"Windows 身份验证", "SQL Server 身份验证"});
    组合框1->setCurrentIndex(0);
    组合框1->setPalette(blackOnWhite(组合框1->palette()));
    组合框1->setItemDelegate(new TallerRows(组合框1->itemDelegate(), 组合框1));

    透明标签2 = label(分组框1, "透明标签2", "用户名：", {10, 69, 52, 22});
    编辑框2 = edit(分组框1, "编辑框2", "Administrator", {65, 72, 143, 20});
    编辑框2->setEnabled(false);
    透明标签3 = label(分组框1, "透明标签3", "密  码：", {10, 97, 52, 22});
    编辑框3 = edit(分组框1, "编辑框3", "", {65, 100, 143, 20});
    编辑框3->setEchoMode(QLineEdit::Password);
    // "*" for every character, whatever mark the style would use.
    编辑框3->setStyleSheet("lineedit-password-character: 42");
    编辑框3->setEnabled(false);
    按钮1 = button(分组框1, "按钮1", "连接", {138, 127, 70, 24});

    // 按钮2 belongs to the window although it sits inside the group box's frame.
    按钮2 = button(this, "按钮2", "断开", {71, 135, 70, 24});

    超级列表框1 = named(new ReportList({{"序号", 40}, {"数据库名称", 160}}, this), "超级列表框1",
                        {8, 176, 224, 132});
    超级列表框1->setPalette(blackOnWhite(超级列表框1->palette()));

    按钮5 = button(this, "按钮5", "帮助", {8, 313, 80, 24});
    按钮3 = button(this, "按钮3", "加载数据库", {112, 313, 120, 24});
    按钮3->setEnabled(false);

    图片框1 = named(new QLabel(this), "图片框1", {240, 14, 290, 60});
    图片框1->setFrameStyle(QFrame::Box | QFrame::Plain);
    图片框1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    图片框1->setPixmap(bannerPicture());

    编辑框5 = edit(this, "编辑框5", "请将SQL脚本用鼠标拖入此处", {240, 78, 290, 25});
    编辑框5->setReadOnly(true);
    编辑框5->setAlignment(Qt::AlignCenter);
    QFont heiti = gb2312Font(font());
    heiti.setFamilies({"黑体", "SimHei", "WenQuanYi Micro Hei"});
    编辑框5->setFont(heiti);
    编辑框5->setFocusPolicy(Qt::StrongFocus);

    if (!services_.saveDialogs) {
        ownSaveDialogs_ = std::make_unique<QtSaveDialogs>();
        services_.saveDialogs = ownSaveDialogs_.get();
    }
    编辑框4 = named(new logbox::LogView({services_.boxes, services_.opener, *services_.saveDialogs},
                                        logbox::spoolFolder(), this),
                    "编辑框4", {240, 104, 290, 204});
    编辑框4->setRunFolder(logbox::runsFolder());
    QPalette log = blackOnWhite(编辑框4->palette());
    // As in the other boxes, a selection is not shown while the box has no focus.
    log.setColor(QPalette::Inactive, QPalette::Highlight, Qt::white);
    log.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::black);
    编辑框4->setPalette(log);

    按钮4 = button(this, "按钮4", "执行SQL脚本", {410, 313, 120, 24});
    按钮4->setEnabled(false);

    状态条1 =
        named(new PartStatusBar(this), "状态条1",
              {0, kClientHeight - PartStatusBar::kHeight, kClientWidth, PartStatusBar::kHeight});

    功能菜单 = new QMenu(this);
    功能菜单->setObjectName("功能菜单");
    tableTotalsAction = 功能菜单->addAction("库记录");
    tableReportAction = 功能菜单->addAction("表排序");
    deleteDatabaseAction = 功能菜单->addAction("删除库");

    拖放对象1 = new DropTarget(this);
    拖放对象1->setObjectName("拖放对象1");
}

void MainWindow::nameForScreenReaders() {
    // Each box is announced by its own label, not by the group box's title.
    透明标签1->setBuddy(编辑框1);
    透明标签4->setBuddy(组合框1);
    透明标签2->setBuddy(编辑框2);
    透明标签3->setBuddy(编辑框3);
    // The labels end in a colon and space out 密码: the plain words instead.
    // (A combo box is named by its current item and labelled by its buddy.)
    编辑框1->setAccessibleName("服务器");
    编辑框2->setAccessibleName("用户名");
    编辑框3->setAccessibleName("密码");
    超级列表框1->setAccessibleName("数据库列表");
    图片框1->setAccessibleName("Quillstep");
    编辑框5->setAccessibleName("SQL脚本文件");
    编辑框5->setAccessibleDescription("请将SQL脚本用鼠标拖入此处");
    编辑框4->setAccessibleName("执行输出");
    状态条1->setAccessibleName("状态栏");
    // The buttons are named by their captions.
}

void MainWindow::chainTabStops() {
    QWidget* const chain[] = {组合框1, 按钮1, 按钮2, 超级列表框1, 按钮5, 按钮3, 编辑框5, 按钮4};
    for (size_t i = 1; i < std::size(chain); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

void MainWindow::setPointers() {
    setCursor(Qt::PointingHandCursor);
    分组框1->setCursor(Qt::ArrowCursor);
    for (QWidget* w :
         std::initializer_list<QWidget*>{编辑框2, 透明标签1, 透明标签2, 透明标签3, 透明标签4})
        w->setCursor(Qt::PointingHandCursor);
    const QCursor hand = pointingHandCursor();
    for (QWidget* w : std::initializer_list<QWidget*>{
             编辑框1, 编辑框3, 编辑框4, 编辑框4->viewport(), 编辑框5, 组合框1, 按钮1, 按钮2, 按钮3,
             按钮4, 按钮5, 超级列表框1, 图片框1, 状态条1})
        w->setCursor(hand);
}

void MainWindow::wireHandlers() {
    // Start-up, help, authentication mode, the database list's menu.
    // Choosing the item that is already selected changes nothing: a typed
    // login stays as it is.
    connect(组合框1, &QComboBox::currentIndexChanged, this, &MainWindow::onAuthModeSelected);
    connect(按钮5, &QPushButton::clicked, this, &MainWindow::onHelpClicked);
    超级列表框1->viewport()->installEventFilter(this);
    connect(状态条1, &PartStatusBar::moreRequested, this, &MainWindow::tellStatus);
    wireDatabase();
    wireScripts();
    wireStats();
}

void MainWindow::wireDatabase() {
    databaseFlows_ =
        std::make_unique<DatabaseFlows>(*this, services_.state, services_.boxes, database1_);
    DatabaseFlows* flows = databaseFlows_.get();
    connect(按钮1, &QPushButton::clicked, flows, [flows] { flows->onConnectClicked(); });
    connect(按钮2, &QPushButton::clicked, flows, [flows] { flows->onDisconnectClicked(); });
    connect(按钮3, &QPushButton::clicked, flows, [flows] { flows->loadDatabaseList(); });
    connect(deleteDatabaseAction, &QAction::triggered, flows,
            [flows] { flows->onDeleteDatabaseClicked(); });
}

void MainWindow::wireScripts() {
    if (!services_.choices) {
        ownChoices_ = std::make_unique<QtChoices>();
        services_.choices = ownChoices_.get();
    }
    preflightFlow_ = std::make_unique<preflight::PreflightFlow>(
        *this, *services_.choices, preflight::ResumeStore(),
        QFileInfo(services_.console.interpreter()).absolutePath());
    scriptExecution_ = std::make_unique<exec::ScriptExecution>(*this, services_.console,
                                                               services_.state, services_.boxes);
    scriptExecution_->setHooks(preflightFlow_.get());
    exec::ScriptExecution* execution = scriptExecution_.get();
    // Each run's output is kept in a file of its own, which the log box shows.
    runLog_ = std::make_unique<logbox::DocumentRunLog>(编辑框4->document(),
                                                       logbox::RunLogStore(logbox::runsFolder()));
    execution->setRunLog(runLog_.get());
    runWatch_ = new RunWatch(*this, *execution, services_.opener);
    编辑框4->addMenuActions({runWatch_->errorListAction()});
    connect(preflightFlow_.get(), &preflight::PreflightFlow::batchesCounted, runWatch_,
            [watch = runWatch_](const QString& path, qint64 batches) {
                watch->progress().setScriptBatches(path, batches);
            });
    connect(按钮4, &QPushButton::clicked, execution, &exec::ScriptExecution::executeScript);
    // After the disconnect's own handler, which disables 按钮4.
    connect(按钮2, &QPushButton::clicked, execution, &exec::ScriptExecution::afterDisconnect);
    connect(拖放对象1, &DropTarget::filesDropped, this, &MainWindow::onScriptFilesDropped);
}

void MainWindow::onScriptFilesDropped(const QString& files) {
    quill::onScriptFilesDropped(
        *this, services_.state, files, scriptExecution_->runUnderWay(), [this] {
            preflightFlow_->scriptDropped(text(Control::编辑框5));
            services_.console.startConsole(scriptExecution_->consoleHandlers());
        });
}

void MainWindow::wireStats() {
    statsFlows_ =
        std::make_unique<StatsFlows>(*this, services_.state, services_.boxes, services_.opener,
                                     database2_, services_.reportFolders);
    StatsFlows* flows = statsFlows_.get();
    connect(tableTotalsAction, &QAction::triggered, this,
            [flows] { flows->onTableTotalsClicked(); });
    connect(tableReportAction, &QAction::triggered, this,
            [flows] { flows->onTableReportClicked(); });
}

void MainWindow::placeCentred() {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    move(screen.x() + (screen.width() - kOuterWidth) / 2,
         screen.y() + (screen.height() - kOuterHeight) / 2);
}

void MainWindow::onMainWindowCreated() {
    if (services_.anotherInstanceRunning()) {
        services_.endProgram(0);
        return;
    }
    if (services_.skin)
        skin::attachProgramSkin(*services_.skin);
    拖放对象1->registerOn(编辑框5);
}

bool MainWindow::onMainWindowCloseQuery() {
    if (!confirmClose(services_.boxes))
        return false;
    deleteLater();
    return true;
}

void MainWindow::onMainWindowDestroy() {
    // Releases what the flows hold open across events, in order: the
    // connection, the console (with the client it runs, which must not go on
    // sending the script once the window is gone), the skin. The skin
    // component stays loaded.
    databaseFlows_->closeDatabase();
    services_.console.stopConsole();
    if (services_.skin)
        services_.skin->detachSkin();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (onMainWindowCloseQuery())
        event->accept();
    else
        event->ignore();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // The list moves its selection on this very press, so the handler runs after it.
    if (watched == 超级列表框1->viewport() && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton)
        QMetaObject::invokeMethod(
            this, [this] { onDatabaseListRightClick(); }, Qt::QueuedConnection);
    return QWidget::eventFilter(watched, event);
}

void MainWindow::onAuthModeSelected() {
    quill::onAuthModeSelected(*this);
}

void MainWindow::onHelpClicked() {
    quill::onHelpClicked(services_.boxes);
}

void MainWindow::bringToFront() {
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
    // A question the window is waiting on stays in front of it.
    if (QWidget* box = QApplication::activeModalWidget(); box && box != this) {
        box->raise();
        box->activateWindow();
    }
}

void MainWindow::onDatabaseListRightClick() {
    // Let the list finish its own handling of the click first.
    QPointer<MainWindow> self(this);
    QEventLoop settle;
    QTimer::singleShot(150, &settle, &QEventLoop::quit);
    settle.exec();
    if (!self)
        return;
    if (!nameSelectedDatabase(*this, services_.state))
        return;
    功能菜单->popup(QCursor::pos() + QPoint(3, 3));
}

QWidget* MainWindow::control(Control c) const {
    switch (c) {
        case Control::分组框1:
            return 分组框1;
        case Control::透明标签1:
            return 透明标签1;
        case Control::编辑框1:
            return 编辑框1;
        case Control::透明标签4:
            return 透明标签4;
        case Control::组合框1:
            return 组合框1;
        case Control::透明标签2:
            return 透明标签2;
        case Control::编辑框2:
            return 编辑框2;
        case Control::透明标签3:
            return 透明标签3;
        case Control::编辑框3:
            return 编辑框3;
        case Control::按钮1:
            return 按钮1;
        case Control::按钮2:
            return 按钮2;
        case Control::超级列表框1:
            return 超级列表框1;
        case Control::按钮5:
            return 按钮5;
        case Control::按钮3:
            return 按钮3;
        case Control::图片框1:
            return 图片框1;
        case Control::编辑框5:
            return 编辑框5;
        case Control::编辑框4:
            return 编辑框4;
        case Control::按钮4:
            return 按钮4;
        case Control::状态条1:
            return 状态条1;
    }
    return nullptr;
}

QString MainWindow::text(Control c) const {
    if (c == Control::编辑框4)
        return 编辑框4->document().text(kLogTextLimit);
    if (auto* edit = qobject_cast<QLineEdit*>(control(c)))
        return edit->text();
    if (auto* button = qobject_cast<QPushButton*>(control(c)))
        return button->text();
    return {};
}

void MainWindow::setText(Control c, const QString& text) {
    if (c == Control::编辑框4) {
        编辑框4->document().clear();
        编辑框4->document().appendText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(control(c)))
        edit->setText(text);
    else if (auto* button = qobject_cast<QPushButton*>(control(c)))
        button->setText(text);
}

int MainWindow::authIndex() const {
    return 组合框1->currentIndex();
}

bool MainWindow::isEnabled(Control c) const {
    return control(c)->isEnabled();
}

void MainWindow::setEnabled(Control c, bool enabled) {
    control(c)->setEnabled(enabled);
}

QString MainWindow::status(int part) const {
    return 状态条1->partText(part);
}

void MainWindow::setStatus(int part, const QString& text) {
    状态条1->setPartText(part, text);
}

void MainWindow::setStatusToolTip(int part, const QString& tip) {
    const QString reason = serverMessage(tip).trimmed();
    状态条1->setPartDetail(part, reason);
    // A failure's reason is told at once, not left for the pointer to find;
    // after the handler that reported it has finished.
    if (!reason.isEmpty())
        QMetaObject::invokeMethod(
            this, [this, part] { tellStatus(part); }, Qt::QueuedConnection);
}

void MainWindow::tellStatus(int part) {
    const QString text = 状态条1->partText(part);
    const QString reason = 状态条1->partDetail(part);
    if (reason.isEmpty()) {
        if (!text.isEmpty())
            services_.boxes.show(text, "提示！", mb::IconInformation);
        return;
    }
    services_.boxes.show(text.contains(reason) ? text : text + "\r\n" + reason, "错误：",
                         mb::IconError);
}

void MainWindow::clearList() {
    超级列表框1->setRowCount(0);
}

int MainWindow::appendListRow(const QString& column0) {
    const int row = 超级列表框1->rowCount();
    超级列表框1->insertRow(row);
    超级列表框1->setItem(row, 0, new QTableWidgetItem(column0));
    超级列表框1->setItem(row, 1, new QTableWidgetItem());
    return row;
}

void MainWindow::setListCell(int row, int column, const QString& text) {
    if (QTableWidgetItem* item = 超级列表框1->item(row, column))
        item->setText(text);
}

QString MainWindow::listCell(int row, int column) const {
    const QTableWidgetItem* item = 超级列表框1->item(row, column);
    return item ? item->text() : QString();
}

int MainWindow::listRowCount() const {
    return 超级列表框1->rowCount();
}

void MainWindow::setListRows(const QStringList& names) {
    // Thousands of rows inserted one by one keep the window busy for tens of
    // milliseconds: size the list once and fill it without repainting.
    超级列表框1->setUpdatesEnabled(false);
    超级列表框1->setRowCount(0);
    超级列表框1->setRowCount(int(names.size()));
    for (int row = 0; row < int(names.size()); ++row) {
        超级列表框1->setItem(row, 0, new QTableWidgetItem(QString::number(row + 1)));
        超级列表框1->setItem(row, 1, new QTableWidgetItem(names[row]));
    }
    超级列表框1->setUpdatesEnabled(true);
}

int MainWindow::selectedListRow() const {
    const QModelIndexList rows = 超级列表框1->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void MainWindow::appendLog(const QString& text) {
    编辑框4->document().appendText(text);
}

int runWindow(MainWindow* window) {
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(window, &QObject::destroyed, qApp, &QCoreApplication::quit);
    window->show();
    return QCoreApplication::exec();
}

}  // namespace quill
