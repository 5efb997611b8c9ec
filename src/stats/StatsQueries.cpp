#include "stats/StatsQueries.h"

#include <algorithm>
#include <utility>

#include "db/Babelfish.h"
#include "db/DatabaseFlows.h"

namespace quill::stats {

namespace {

// Babelfish keeps no row counts in sysindexes (every rows is 0) and sends
// table names in code page 1252. Its answers are counted exactly instead:
// the server writes one COUNT_BIG(*) per user table, under the table's name
// as nvarchar, and runs them as one statement, grouped by name as the
// statements above group them.
constexpr char kBabelfishCounts[] =
    "SET NOCOUNT ON;\r\n"
    "DECLARE @counts nvarchar(max);\r\n"
    "SELECT @counts = STRING_AGG(CAST(N'SELECT N' + QUOTENAME(CAST(t.name AS nvarchar(128)), '''')"
    " + N' AS name, COUNT_BIG(*) AS n FROM '"
    " + QUOTENAME(CAST(SCHEMA_NAME(t.schema_id) AS nvarchar(128))) + N'.'"
    " + QUOTENAME(CAST(t.name AS nvarchar(128))) AS nvarchar(max)), N' UNION ALL ')\r\n"
    "FROM sys.tables AS t;\r\n";
constexpr char kBabelfishRowTotal[] =
    "EXEC (N'SELECT SUM(记录条数) AS 总记录数 FROM (SELECT TOP (10000) name, MAX(n) AS 记录条数 "
    "FROM (' + @counts + N') AS c GROUP BY name ORDER BY 记录条数 DESC) AS t1');";
constexpr char kBabelfishTableList[] =
    "EXEC (N'SELECT name AS 表名, MAX(n) AS 记录条数 "
    "FROM (' + @counts + N') AS c GROUP BY name ORDER BY 记录条数 DESC');";

// One click's connection: opened straight into the database, closed again
// when the click is done, whichever way it ends. The first failure is kept
// as the text the user is shown.
class Session {
public:
    explicit Session(ODBCDB& db) : db_(db) {}
    ~Session() { db_.CloseDatabase(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Windows authentication goes to this machine's default instance,
    // whatever the server box holds.
    bool open(const StatsLogin& login, const QString& database) {
        const QString server = login.sqlServerAuthentication ? login.server : QStringLiteral(".");
        const bool opened =
            login.sqlServerAuthentication
                ? db_.OpenSqlDatabase(server, login.user, login.password, database, 0, true)
                : db_.OpenSqlDatabase(server, {}, {}, database, 0, true);
        if (!opened) {
            const QString what = "无法连接服务器 " + server + " 上的数据库 " + database;
            failWithDriverMessage(what);
            // Babelfish answers that such a database does not exist, though
            // it lists it: say what is true.
            if (!isAscii(database) && opensOnlyAsciiNames(login, server))
                failure_ = what + "：Babelfish 无法打开名称含非 ASCII 字符的数据库";
        }
        return opened;
    }

    std::optional<std::int32_t> tableCount() {
        const std::optional<FieldValue> v = firstValue(kTableCountStatement, "表数");
        if (!v)
            return std::nullopt;
        const std::optional<std::int32_t> n = v->toInt32();
        if (!n)
            failure_ = "表数不是整数";
        return n;
    }

    // The sum of the int row counts, or when it overflows the int of its
    // statement, the same sum as a bigint.
    std::optional<std::int64_t> rowTotal() {
        std::optional<FieldValue> v = firstValue(kRowTotalStatement, "总记录数");
        if (!v) {
            const QString overflow = failure_;
            v = firstValue(kRowTotalBigintStatement, "总记录数");
            if (!v) {
                failure_ = overflow;  // the first statement's reason is the one that matters
                return std::nullopt;
            }
            failure_.clear();
        }
        return asCount(*v, "总记录数不是整数");
    }

    std::optional<std::int64_t> babelfishRowTotal() {
        const std::optional<FieldValue> v =
            firstValue(QString(kBabelfishCounts) + kBabelfishRowTotal, "总记录数");
        return v ? asCount(*v, "总记录数不是整数") : std::nullopt;
    }

    // The first `count` rows of a table list.
    std::optional<std::vector<TableRowCount>> tables(const QString& statement, std::int32_t count) {
        const ODBCDB::RecordSetHandle h = db_.OpenTable(statement);
        if (h == 0) {
            failWithDriverMessage("查询各表记录条数失败");
            return std::nullopt;
        }
        std::vector<TableRowCount> rows;
        rows.reserve(
            std::size_t(std::clamp<std::int64_t>(db_.RecordCount(h), 0, std::max(count, 0))));
        for (std::int32_t i = 0; i < count && !db_.IsEof(h); ++i) {
            TableRowCount row{db_.ReadColumn(h, 1).toText(), 0};
            const std::optional<std::int64_t> n =
                asCount(db_.ReadColumn(h, 2), "表 " + row.name + " 的记录条数不是整数");
            if (!n)
                return std::nullopt;
            row.rows = *n;
            rows.push_back(std::move(row));
            db_.MoveNext(h);
        }
        db_.CloseTable(h);
        return rows;
    }

    bool isBabelfish() { return db::babelfish::isBabelfish(db_); }

    // Whether the server is Babelfish, asked over its default database.
    bool opensOnlyAsciiNames(const StatsLogin& login, const QString& server) {
        const bool opened =
            login.sqlServerAuthentication
                ? db_.OpenSqlDatabase(server, login.user, login.password, {}, 0, true)
                : db_.OpenSqlDatabase(server, {}, {}, {}, 0, true);
        const bool babelfish = opened && isBabelfish();
        db_.CloseDatabase();
        return babelfish;
    }

    static bool isAscii(const QString& text) {
        return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    }

    const QString& failure() const { return failure_; }

private:
    // Column 1 of the statement's first row.
    std::optional<FieldValue> firstValue(const QString& statement, const QString& what) {
        const ODBCDB::RecordSetHandle h = db_.OpenTable(statement);
        if (h == 0) {
            failWithDriverMessage("查询" + what + "失败");
            return std::nullopt;
        }
        FieldValue v = db_.ReadColumn(h, 1);
        db_.CloseTable(h);
        return v;
    }

    std::optional<std::int64_t> asCount(const FieldValue& v, const QString& notANumber) {
        const std::optional<std::int64_t> n = v.toInt64();
        if (!n)
            failure_ = notANumber;
        return n;
    }

    void failWithDriverMessage(const QString& what) {
        const QString why = serverMessage(db_.LastError());
        failure_ = why.isEmpty() ? what : what + "：" + why;
    }

    ODBCDB& db_;
    QString failure_;
};

}  // namespace

Outcome<Totals> readTotals(ODBCDB& db, const StatsLogin& login, const QString& database) {
    Session session(db);
    Outcome<Totals> out;
    if (session.open(login, database)) {
        if (const std::optional<std::int32_t> n = session.tableCount()) {
            std::optional<std::int64_t> m = session.rowTotal();
            // Tables whose rows all count 0 may be Babelfish's, which keeps
            // no counts: ask, and count them there.
            if (m == 0 && *n > 0 && session.isBabelfish())
                m = session.babelfishRowTotal();
            if (m)
                out.value = Totals{*n, *m};
        }
    }
    out.failure = session.failure();
    return out;
}

Outcome<std::vector<TableRowCount>> readTableList(ODBCDB& db, const StatsLogin& login,
                                                  const QString& database) {
    Session session(db);
    Outcome<std::vector<TableRowCount>> out;
    if (session.open(login, database)) {
        if (const std::optional<std::int32_t> n = session.tableCount()) {
            out.value = session.tables(kTableListStatement, *n);
            const bool allZero =
                out.value && std::all_of(out.value->begin(), out.value->end(),
                                         [](const TableRowCount& t) { return t.rows == 0; });
            if (allZero && !out.value->empty() && session.isBabelfish())
                out.value = session.tables(QString(kBabelfishCounts) + kBabelfishTableList, *n);
        }
    }
    out.failure = session.failure();
    return out;
}

}  // namespace quill::stats
