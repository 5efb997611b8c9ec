#pragma once

#include <QAction>
#include <QObject>
#include <QPointer>
#include <list>
#include <memory>

#include "app/ErrorList.h"
#include "exec/FailedBatches.h"
#include "exec/ProgressWatch.h"
#include "exec/ScriptRun.h"

namespace quill {

class FileOpener;
class MainWindow;
class RunProgressBar;

// What the window shows of a run besides its output: its progress (panel
// 1 and a slim bar under the log box), the list of its errors (from the
// log box's menu, and from panel 1 when the run ended with errors), and
// the file of its failed batches beside its log.
class RunWatch : public QObject {
    Q_OBJECT
public:
    RunWatch(MainWindow& window, exec::ScriptExecution& execution, FileOpener& opener);
    ~RunWatch() override;

    // Where a pre-scan's count of batches is handed in (ProgressWatch::setScriptBatches).
    exec::ProgressWatch& progress() { return progress_; }
    RunProgressBar* progressBar() const { return bar_; }
    // "错误列表", for the log box's menu.
    QAction* errorListAction() const { return errorListAction_; }
    void openErrorList();
    ErrorListDialog* errorList() const { return dialog_; }

private:
    void onStarted(const exec::RunStart& start);
    void onRecord(const console::StatusRecord& record);
    void onEnded(const exec::RunOutcome& outcome);
    void onProgress(const exec::ProgressFigures& figures);
    void onFailedWritten(const exec::FailedBatches::Result& result, exec::FailedBatches* writer);
    void tellFailedBatches(const QString& text, const QString& folder);

    MainWindow& window_;
    exec::ScriptExecution& execution_;
    FileOpener& opener_;
    exec::ProgressWatch progress_;
    RunProgressBar* bar_;
    ErrorListModel model_;
    QPointer<ErrorListDialog> dialog_;
    QAction* errorListAction_;

    exec::RunStart run_;
    bool clientReports_ = false;  // the client tells which batches failed
    std::unique_ptr<exec::FailedBatches> failed_;
    // Writers of earlier runs still finishing their files.
    std::list<std::unique_ptr<exec::FailedBatches>> finishing_;
    QString failedText_;
    QString failedFolder_;
};

}  // namespace quill
