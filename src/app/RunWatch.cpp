#include "app/RunWatch.h"

#include <QFileInfo>

#include "app/MainWindow.h"
#include "app/RunProgressBar.h"
#include "core/FileOpener.h"
#include "core/GuiThread.h"
#include "exec/RunTexts.h"
#include "exec/ScriptExecution.h"

namespace quill {

namespace {

const char kErrorListHint[] = "点击查看错误列表";

}  // namespace

RunWatch::RunWatch(MainWindow& window, exec::ScriptExecution& execution, FileOpener& opener)
    : QObject(&window),
      window_(window),
      execution_(execution),
      opener_(opener),
      progress_(execution),
      model_(window.编辑框4->document()) {
    // In the 5-pixel gap between the log box and 按钮4: nothing moves for it.
    bar_ = new RunProgressBar(&window);
    bar_->setObjectName("执行进度");
    bar_->setGeometry(240, 309, 290, 3);
    bar_->hide();

    errorListAction_ = new QAction("错误列表", this);
    connect(errorListAction_, &QAction::triggered, this, &RunWatch::openErrorList);
    connect(window.状态条1, &PartStatusBar::linkActivated, this, [this](int part) {
        if (part == 1)
            openErrorList();
    });

    connect(&execution, &exec::ScriptExecution::runStarted, this, &RunWatch::onStarted);
    connect(&execution, &exec::ScriptExecution::runRecord, this, &RunWatch::onRecord);
    connect(&execution, &exec::ScriptExecution::runEnded, this, &RunWatch::onEnded);
    connect(&progress_, &exec::ProgressWatch::progressed, this, &RunWatch::onProgress);
    connect(&progress_, &exec::ProgressWatch::finished, this, [this] {
        bar_->hide();
        bar_->setShare(std::nullopt);
    });
}

// Writers still at work stop here; their files stay as far as they got.
RunWatch::~RunWatch() = default;

void RunWatch::onStarted(const exec::RunStart& start) {
    run_ = start;
    clientReports_ = false;
    if (failed_)
        finishing_.push_back(std::move(failed_));
    // The run's errors are marked from its output on, which starts after
    // the log's present last line.
    model_.showRun(window_.编辑框4->document().lineCount() - 1);
    model_.setFileLines(true);
    tellFailedBatches({}, {});
}

void RunWatch::onRecord(const console::StatusRecord& record) {
    const std::vector<long long>& n = record.numbers;
    if (record.tag == "input" || record.tag == "progress") {
        clientReports_ = true;
    } else if (record.tag == "failed" && n.size() == 4) {
        clientReports_ = true;
        if (!failed_ && !run_.logPath.isEmpty())
            failed_ = std::make_unique<exec::FailedBatches>(
                run_.commandLine, exec::FailedBatches::pathFor(run_.logPath));
        if (failed_)
            failed_->add(n[0], n[2]);
    }
}

void RunWatch::onEnded(const exec::RunOutcome& outcome) {
    model_.setFileLines(clientReports_);
    if (outcome.errorCount > 0)
        window_.状态条1->setPartLink(1, QString::fromUtf8(kErrorListHint));

    if (failed_) {
        exec::FailedBatches* writer = failed_.get();
        finishing_.push_back(std::move(failed_));
        tellFailedBatches(QStringLiteral("正在写出失败的批次……"), {});
        writer->finish([this, writer](const exec::FailedBatches::Result& result) {
            postToGui(this, [this, writer, result] { onFailedWritten(result, writer); });
        });
        return;
    }
    if (outcome.kind != exec::RunOutcome::Kind::Errors)
        return;
    // Only quill-sqlcmd says which batches failed.
    const QString text =
        !clientReports_ ? QStringLiteral("没有失败批次文件：所用的 sqlcmd 不报告哪些批次失败。")
        : run_.logPath.isEmpty() ? QStringLiteral("没有失败批次文件：本次执行没有日志文件。")
                                 : QString();
    if (!text.isEmpty()) {
        tellFailedBatches(text, {});
        window_.appendLog("\n" + text);
    }
}

void RunWatch::onFailedWritten(const exec::FailedBatches::Result& result,
                               exec::FailedBatches* writer) {
    const bool latest =
        !finishing_.empty() && finishing_.back().get() == writer && !execution_.runUnderWay();
    finishing_.remove_if([writer](const auto& w) { return w.get() == writer; });
    QString text;
    if (result.error.isEmpty())
        text =
            QStringLiteral("失败的 %1 个批次已写入 %2。修正出错的原因后，可将它拖入窗口再次执行。")
                .arg(result.batches)
                .arg(result.path);
    else if (result.batches > 0)
        text = QStringLiteral("失败的批次没能全部写出（%1）；已写出的 %2 个在 %3。")
                   .arg(result.error)
                   .arg(result.batches)
                   .arg(result.path);
    else
        text = QStringLiteral("失败的批次没能写出：%1。").arg(result.error);
    // A run under way owns the log's end; a later run has its own list.
    if (!latest)
        return;
    tellFailedBatches(text, result.path.isEmpty() ? QString() : QFileInfo(result.path).path());
    window_.appendLog("\n" + text);
}

void RunWatch::tellFailedBatches(const QString& text, const QString& folder) {
    failedText_ = text;
    failedFolder_ = folder;
    if (dialog_)
        dialog_->setFailedBatches(text, folder);
}

void RunWatch::onProgress(const exec::ProgressFigures& figures) {
    // A stop under way keeps its own word in the panel.
    if (!execution_.runUnderWay() || execution_.stopping())
        return;
    window_.setStatus(1, exec::progressStatus(figures));
    bar_->setShare(figures.share());
    bar_->show();
}

void RunWatch::openErrorList() {
    if (!dialog_) {
        dialog_ = new ErrorListDialog(model_, &window_);
        connect(dialog_, &ErrorListDialog::goToLine, this, [this](qint64 line) {
            if (line >= 0)
                window_.编辑框4->goToLine(line);
        });
        connect(dialog_, &ErrorListDialog::openFolder, this,
                [this](const QString& folder) { opener_.open(folder); });
        dialog_->setFailedBatches(failedText_, failedFolder_);
    }
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
}

}  // namespace quill
