#include "stats/StatsFlows.h"

#include <chrono>
#include <utility>

namespace quill {

namespace {

// How long the window waits, when it closes, for a click's work under way.
constexpr std::chrono::milliseconds kShutdownGrace{1000};

}  // namespace

StatsFlows::StatsFlows(Form& form, ProgramState& state, MessageBoxes& boxes, FileOpener& opener,
                       std::shared_ptr<ODBCDB> database, stats::ReportFolders folders)
    : form_(form),
      state_(state),
      boxes_(boxes),
      opener_(opener),
      db_(std::move(database)),
      folders_(std::move(folders)) {}

StatsFlows::~StatsFlows() {
    // The connection closes as the work under way ends (each click's does).
    worker_.shutDown({}, kShutdownGrace);
}

stats::StatsLogin StatsFlows::login() const {
    return {form_.authIndex() == 1, DatabaseWorker::own(form_.text(Control::编辑框1)),
            DatabaseWorker::own(form_.text(Control::编辑框2)),
            DatabaseWorker::own(form_.text(Control::编辑框3))};
}

void StatsFlows::fail(const QString& text) {
    boxes_.show(text, kFailureCaption, mb::IconError);
}

void StatsFlows::onTableTotalsClicked() {
    const QString database = DatabaseWorker::own(state_.selectedDatabaseName());
    worker_.post(
        [this, db = db_, login = login(), database](const DatabaseWorker::Deliver& deliver) {
            const stats::Outcome<stats::Totals> totals = stats::readTotals(*db, login, database);
            deliver([this, totals, database] {
                if (!totals.value) {
                    fail(totals.failure);
                    return;
                }
                const QString text = database + " 共有 " + QString::number(totals.value->tables) +
                                     " 张表\r\n" + database + " 共有 " +
                                     QString::number(totals.value->rows) + " 条记录数";
                boxes_.show(text, kResultCaption, mb::IconInformation);
            });
        });
}

void StatsFlows::onTableReportClicked() {
    worker_.post([this, db = db_, login = login(),
                  database = DatabaseWorker::own(state_.selectedDatabaseName()),
                  folders = stats::ReportFolders{DatabaseWorker::own(folders_.program),
                                                 DatabaseWorker::own(folders_.documents)}](
                     const DatabaseWorker::Deliver& deliver) {
        const stats::Outcome<std::vector<stats::TableRowCount>> tables =
            stats::readTableList(*db, login, database);
        if (!tables.value) {
            deliver([this, failure = tables.failure] { fail(failure); });
            return;
        }
        // Opening an old report, or none, would pass for this one: say why
        // instead.
        const stats::WrittenReport written =
            stats::writeReport(folders, stats::reportText(*tables.value));
        deliver([this, written] {
            if (!written.ok()) {
                fail("无法写入报告文件 " + written.path + "：" + written.error);
                return;
            }
            if (!opener_.open(written.path))
                boxes_.show("报告已写入 " + written.path + "，但无法用默认程序打开它。",
                            kNoticeCaption, mb::IconExclamation);
        });
    });
}

}  // namespace quill
