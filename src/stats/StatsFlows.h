#pragma once

#include <QString>
#include <memory>

#include "core/FileOpener.h"
#include "core/Form.h"
#include "core/MessageBoxes.h"
#include "core/ProgramState.h"
#include "db/DatabaseWorker.h"
#include "db/ODBCDB.h"
#include "stats/ReportFile.h"
#include "stats/StatsQueries.h"

namespace quill {

// The database list menu's table statistics, on 外部数据库2: the table and
// row totals in a message box ("库记录"), and the report of every user table
// by row count, largest first, opened with the desktop ("表排序").
//
// Each click reads the authentication mode and the login boxes as they
// stand, and returns at once: a worker thread opens its own connection
// straight into selectedDatabaseName (the local default instance "." under
// Windows authentication), asks, closes it and writes the report; the
// result is shown when it comes back. A failed open, a failed statement, a
// count that is not a number or a report that cannot be written ends the
// click with a message box that names what failed; nothing else is shown
// or written then.
class StatsFlows {
public:
    StatsFlows(Form& form, ProgramState& state, MessageBoxes& boxes, FileOpener& opener,
               std::shared_ptr<ODBCDB> database, stats::ReportFolders folders);
    // Drops the clicks not yet started; one under way finishes on its own.
    ~StatsFlows();

    // Menu item "库记录".
    void onTableTotalsClicked();
    // Menu item "表排序".
    void onTableReportClicked();

    // No click's work queued or running, and its result shown.
    bool idle() const { return worker_.idle(); }

    static constexpr const char* kTableCountStatement = stats::kTableCountStatement;
    static constexpr const char* kRowTotalStatement = stats::kRowTotalStatement;
    static constexpr const char* kTableListStatement = stats::kTableListStatement;

    static constexpr const char* kResultCaption = "运算结果:";
    static constexpr const char* kFailureCaption = "错误：";
    static constexpr const char* kNoticeCaption = "提示！";

private:
    stats::StatsLogin login() const;
    void fail(const QString& text);

    Form& form_;
    ProgramState& state_;
    MessageBoxes& boxes_;
    FileOpener& opener_;
    std::shared_ptr<ODBCDB> db_;
    stats::ReportFolders folders_;
    DatabaseWorker worker_;
};

}  // namespace quill
