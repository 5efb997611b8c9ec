#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "db/ODBCDB.h"
#include "stats/TableReport.h"

// What the table statistics ask the server, on a connection of their own
// opened straight into the database and closed before they return. They
// block until the server answers: the flows run them off the GUI thread.
namespace quill::stats {

// The number of user tables.
constexpr char kTableCountStatement[] =
    "select count(1) from sysobjects where xtype='U'  \r\n"
    "------------------------------ ‘查询表数’------------------------------------";
// Rows of the 10000 largest user tables together, each counted once with
// its largest index entry.
constexpr char kRowTotalStatement[] =
    "SELECT   SUM(记录条数) AS 总记录数\r\n"
    "FROM      (SELECT   TOP (10000) a.name AS 表名, MAX(b.rows) AS 记录条数\r\n"
    "                 FROM      sys.sysobjects AS a INNER JOIN\r\n"
    "                                 sys.sysindexes AS b ON a.id = b.id\r\n"
    "                 WHERE   (a.xtype = 'u')\r\n"
    "                 GROUP BY a.name\r\n"
    "                 ORDER BY 记录条数 DESC) AS t1";
// The same sum as a bigint, for when it overflows the int of the first.
constexpr char kRowTotalBigintStatement[] =
    "SELECT   SUM(CAST(记录条数 AS bigint)) AS 总记录数\r\n"
    "FROM      (SELECT   TOP (10000) a.name AS 表名, MAX(b.rows) AS 记录条数\r\n"
    "                 FROM      sys.sysobjects AS a INNER JOIN\r\n"
    "                                 sys.sysindexes AS b ON a.id = b.id\r\n"
    "                 WHERE   (a.xtype = 'u')\r\n"
    "                 GROUP BY a.name\r\n"
    "                 ORDER BY 记录条数 DESC) AS t1";
// Every user table's name and largest index row count, largest first.
constexpr char kTableListStatement[] =
    "SELECT   a.name AS 表名, MAX(b.rows) AS 记录条数\r\n"
    "FROM      sys.sysobjects AS a INNER JOIN\r\n"
    "                sys.sysindexes AS b ON a.id = b.id\r\n"
    "WHERE   (a.xtype = 'u')\r\n"
    "GROUP BY a.name\r\n"
    "ORDER BY 记录条数 DESC\r\n";

// The connection boxes as they stood at the click.
struct StatsLogin {
    bool sqlServerAuthentication = false;
    QString server;  // 编辑框1; Windows authentication goes to "." instead
    QString user;
    QString password;
};

struct Totals {
    std::int32_t tables = 0;
    std::int64_t rows = 0;
};

// A result, or the text that says what failed.
template <class T>
struct Outcome {
    std::optional<T> value;
    QString failure;
};

// The table count and the row total of `database`.
Outcome<Totals> readTotals(ODBCDB& db, const StatsLogin& login, const QString& database);

// The user tables of `database`, largest first: as many as the table count
// says, fewer when the list ends first (tables of one name in two schemas
// make one row).
Outcome<std::vector<TableRowCount>> readTableList(ODBCDB& db, const StatsLogin& login,
                                                  const QString& database);

}  // namespace quill::stats
