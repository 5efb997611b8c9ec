#pragma once

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/DropTarget.h"
#include "app/PartStatusBar.h"
#include "app/ReportList.h"
#include "app/log/LogView.h"
#include "app/skin/SkinEngine.h"
#include "core/Choices.h"
#include "core/FileOpener.h"
#include "core/Form.h"
#include "core/MessageBoxes.h"
#include "core/ProgramState.h"
#include "core/SaveDialogs.h"
#include "db/DatabaseFlows.h"
#include "db/ODBCDB.h"
#include "stats/StatsFlows.h"

namespace quill {

class Console;
namespace exec {
class ScriptExecution;
}
namespace logbox {
class DocumentRunLog;
}
class RunWatch;
namespace preflight {
class PreflightFlow;
}

// What the window needs from the program around it.
struct WindowServices {
    MessageBoxes& boxes;
    FileOpener& opener;
    ProgramState& state;
    // True when another instance of the program runs (and the mark is taken otherwise).
    std::function<bool()> anotherInstanceRunning;
    // Ends the process at once with the given exit code.
    std::function<void(int)> endProgram;
    // The program's one console, which runs the dropped scripts.
    Console& console;
    // Gives the window its skin at creation and takes it off at destruction;
    // without one the window keeps the platform look.
    skin::SkinEngine* skin = nullptr;
    // Where the table report goes.
    stats::ReportFolders reportFolders = stats::ReportFolders::ofThisProgram();
    // Asks where to save the log; without one, Qt's file dialog.
    SaveDialogs* saveDialogs = nullptr;
    // Asks a script's code page and where a broken run goes on; without
    // one, Qt's dialogs.
    Choices* choices = nullptr;
};

// The main window: every control under its own name, the popup menu, and
// the wiring of control events to handlers.
class MainWindow final : public QWidget, public Form {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 539;
    static constexpr int kClientHeight = 361;
    // Outer size of the window with a usual frame, which is centred on the screen.
    static constexpr int kOuterWidth = 545;
    static constexpr int kOuterHeight = 390;

    explicit MainWindow(const WindowServices& services);
    ~MainWindow() override;

    // The widget behind a named control.
    QWidget* control(Control c) const;
    // What runs the dropped scripts, and what the window shows of a run
    // besides its output.
    exec::ScriptExecution& scriptExecution() const { return *scriptExecution_; }
    RunWatch& runWatch() const { return *runWatch_; }

    // Handlers of the window's own events.
    bool onMainWindowCloseQuery();  // true: the close goes on
    void onMainWindowDestroy();
    void onAuthModeSelected();
    void onHelpClicked();
    void onDatabaseListRightClick();

    // Shows the window, restored and in front of the others, with a box it
    // has open in front of it: another start asked for it.
    void bringToFront();

    // Form
    using QWidget::isEnabled;
    using QWidget::setEnabled;
    QString text(Control c) const override;
    void setText(Control c, const QString& text) override;
    int authIndex() const override;
    bool isEnabled(Control c) const override;
    void setEnabled(Control c, bool enabled) override;
    QString status(int part) const override;
    void setStatus(int part, const QString& text) override;
    void setStatusToolTip(int part, const QString& tip) override;
    void clearList() override;
    int appendListRow(const QString& column0) override;
    void setListCell(int row, int column, const QString& text) override;
    QString listCell(int row, int column) const override;
    int listRowCount() const override;
    int selectedListRow() const override;
    void setListRows(const QStringList& names) override;
    void appendLog(const QString& text) override;

    QGroupBox* 分组框1;
    QLabel* 透明标签1;
    QLineEdit* 编辑框1;
    QLabel* 透明标签4;
    QComboBox* 组合框1;
    QLabel* 透明标签2;
    QLineEdit* 编辑框2;
    QLabel* 透明标签3;
    QLineEdit* 编辑框3;
    QPushButton* 按钮1;
    QPushButton* 按钮2;
    ReportList* 超级列表框1;
    QPushButton* 按钮5;
    QPushButton* 按钮3;
    QLabel* 图片框1;
    QLineEdit* 编辑框5;
    logbox::LogView* 编辑框4;
    QPushButton* 按钮4;
    PartStatusBar* 状态条1;

    // Popped up from the database list; never shown as a menu bar.
    QMenu* 功能菜单;
    QAction* tableTotalsAction;     // "库记录"
    QAction* tableReportAction;     // "表排序"
    QAction* deleteDatabaseAction;  // "删除库"

private:
    // Shared with the database work, which may outlive the window a moment.
    std::shared_ptr<ODBCDB> database1_ = std::make_shared<ODBCDB>();
    std::shared_ptr<ODBCDB> database2_ = std::make_shared<ODBCDB>();

public:
    // Connection, database list and deletion.
    ODBCDB& 外部数据库1 = *database1_;
    // The table statistics open and close it within one click.
    ODBCDB& 外部数据库2 = *database2_;

    // Takes the script files dropped onto 编辑框5.
    DropTarget* 拖放对象1;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void chainTabStops();
    void setPointers();
    void wireHandlers();
    void wireDatabase();
    void wireScripts();
    void onScriptFilesDropped(const QString& files);
    void wireStats();
    void placeCentred();
    void nameForScreenReaders();
    void onMainWindowCreated();
    // A message box with everything a status part has to tell.
    void tellStatus(int part);

    WindowServices services_;
    std::unique_ptr<SaveDialogs> ownSaveDialogs_;
    std::unique_ptr<Choices> ownChoices_;
    std::unique_ptr<DatabaseFlows> databaseFlows_;
    std::unique_ptr<logbox::DocumentRunLog> runLog_;
    // Before the execution, which calls on it until its end.
    std::unique_ptr<preflight::PreflightFlow> preflightFlow_;
    std::unique_ptr<exec::ScriptExecution> scriptExecution_;
    // Progress, errors and failed batches of the runs; a child of the window.
    RunWatch* runWatch_ = nullptr;
    std::unique_ptr<StatsFlows> statsFlows_;
};

// Shows the window and runs the event loop until the window is destroyed:
// the program lives exactly as long as its window. Returns the loop's code.
int runWindow(MainWindow* window);

}  // namespace quill
