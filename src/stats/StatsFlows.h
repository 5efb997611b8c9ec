#pragma once

#include <QString>

#include "core/FileOpener.h"
#include "core/Form.h"
#include "core/MessageBoxes.h"
#include "core/ProgramState.h"
#include "db/ODBCDB.h"
#include "stats/ReportFile.h"

namespace quill {

// The database list menu's table statistics, on 外部数据库2: the table and
// row totals in a message box ("库记录"), and the report of every user table
// by row count, largest first, opened with the desktop ("表排序").
//
// Each click reads the authentication mode and the login boxes as they
// stand, opens its own connection straight into selectedDatabaseName (the
// local default instance "." under Windows authentication) and closes it
// before it shows anything. It runs on the GUI thread and blocks it until
// done. A failed open, a failed statement, a count that is not a number or
// a report that cannot be written ends the click with a message box that
// names what failed; nothing else is shown or written then.
class StatsFlows {
public:
    StatsFlows(Form& form, ProgramState& state, MessageBoxes& boxes, FileOpener& opener,
               ODBCDB& database, stats::ReportFolders folders);

    // Menu item "库记录".
    void onTableTotalsClicked();
    // Menu item "表排序".
    void onTableReportClicked();

    // The number of user tables.
    static constexpr const char* kTableCountStatement =
        "select count(1) from sysobjects where xtype='U'  \r\n"
        "------------------------------ ‘查询表数’------------------------------------";
    // Rows of the 10000 largest user tables together, each counted once with
    // its largest index entry.
    static constexpr const char* kRowTotalStatement =
        "SELECT   SUM(记录条数) AS 总记录数\r\n"
        "FROM      (SELECT   TOP (10000) a.name AS 表名, MAX(b.rows) AS 记录条数\r\n"
        "                 FROM      sys.sysobjects AS a INNER JOIN\r\n"
        "                                 sys.sysindexes AS b ON a.id = b.id\r\n"
        "                 WHERE   (a.xtype = 'u')\r\n"
        "                 GROUP BY a.name\r\n"
        "                 ORDER BY 记录条数 DESC) AS t1";
    // Every user table's name and largest index row count, largest first.
    static constexpr const char* kTableListStatement =
        "SELECT   a.name AS 表名, MAX(b.rows) AS 记录条数\r\n"
        "FROM      sys.sysobjects AS a INNER JOIN\r\n"
        "                sys.sysindexes AS b ON a.id = b.id\r\n"
        "WHERE   (a.xtype = 'u')\r\n"
        "GROUP BY a.name\r\n"
        "ORDER BY 记录条数 DESC\r\n";

    static constexpr const char* kResultCaption = "运算结果:";
    static constexpr const char* kFailureCaption = "错误：";
    static constexpr const char* kNoticeCaption = "提示！";

private:
    void fail(const QString& text);

    Form& form_;
    ProgramState& state_;
    MessageBoxes& boxes_;
    FileOpener& opener_;
    ODBCDB& db_;
    stats::ReportFolders folders_;
};

}  // namespace quill
