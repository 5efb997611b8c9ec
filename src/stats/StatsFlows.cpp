#include "stats/StatsFlows.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "db/DatabaseFlows.h"
#include "stats/TableReport.h"

namespace quill {

namespace {

using stats::TableRowCount;

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
    bool open(const Form& form, const QString& database) {
        const bool sqlAuth = form.authIndex() == 1;
        const QString server = sqlAuth ? form.text(Control::编辑框1) : QStringLiteral(".");
        const bool opened =
            sqlAuth ? db_.OpenSqlDatabase(server, form.text(Control::编辑框2),
                                          form.text(Control::编辑框3), database, 0, true)
                    : db_.OpenSqlDatabase(server, {}, {}, database, 0, true);
        if (!opened)
            failWithDriverMessage("无法连接服务器 " + server + " 上的数据库 " + database);
        return opened;
    }

    // Column 1 of the statement's first row as an integer.
    std::optional<std::int32_t> count(const char* statement, const QString& what) {
        const ODBCDB::RecordSetHandle h = db_.OpenTable(statement);
        if (h == 0) {
            failWithDriverMessage("查询" + what + "失败");
            return std::nullopt;
        }
        const std::optional<std::int32_t> n = db_.ReadColumn(h, 1).toInt32();
        db_.CloseTable(h);
        if (!n)
            failure_ = what + "不是整数";
        return n;
    }

    // The first `count` rows of the table list; fewer when the list ends
    // first (two tables of one name in different schemas make one row).
    std::optional<std::vector<TableRowCount>> tables(std::int32_t count) {
        const ODBCDB::RecordSetHandle h = db_.OpenTable(StatsFlows::kTableListStatement);
        if (h == 0) {
            failWithDriverMessage("查询各表记录条数失败");
            return std::nullopt;
        }
        std::vector<TableRowCount> rows;
        rows.reserve(
            std::size_t(std::clamp<std::int64_t>(db_.RecordCount(h), 0, std::max(count, 0))));
        for (std::int32_t i = 0; i < count && !db_.IsEof(h); ++i) {
            TableRowCount row{db_.ReadColumn(h, 1).toText(), 0};
            const std::optional<std::int32_t> n = db_.ReadColumn(h, 2).toInt32();
            if (!n) {
                failure_ = "表 " + row.name + " 的记录条数不是整数";
                return std::nullopt;
            }
            row.rows = *n;
            rows.push_back(std::move(row));
            db_.MoveNext(h);
        }
        db_.CloseTable(h);
        return rows;
    }

    const QString& failure() const { return failure_; }

private:
    void failWithDriverMessage(const QString& what) {
        const QString why = serverMessage(db_.LastError());
        failure_ = why.isEmpty() ? what : what + "：" + why;
    }

    ODBCDB& db_;
    QString failure_;
};

struct Totals {
    std::int32_t tables;
    std::int32_t rows;
};

}  // namespace

StatsFlows::StatsFlows(Form& form, ProgramState& state, MessageBoxes& boxes, FileOpener& opener,
                       ODBCDB& database, stats::ReportFolders folders)
    : form_(form),
      state_(state),
      boxes_(boxes),
      opener_(opener),
      db_(database),
      folders_(std::move(folders)) {}

void StatsFlows::fail(const QString& text) {
    boxes_.show(text, kFailureCaption, mb::IconError);
}

void StatsFlows::onTableTotalsClicked() {
    const QString database = state_.selectedDatabaseName();
    std::optional<Totals> totals;
    QString failure;
    {
        Session session(db_);
        if (session.open(form_, database)) {
            if (std::optional<std::int32_t> n = session.count(kTableCountStatement, "表数")) {
                if (std::optional<std::int32_t> m = session.count(kRowTotalStatement, "总记录数"))
                    totals = Totals{*n, *m};
            }
        }
        failure = session.failure();
    }
    if (!totals) {
        fail(failure);
        return;
    }
    const QString text = database + " 共有 " + QString::number(totals->tables) + " 张表\r\n" +
                         database + " 共有 " + QString::number(totals->rows) + " 条记录数";
    boxes_.show(text, kResultCaption, mb::IconInformation);
}

void StatsFlows::onTableReportClicked() {
    std::optional<std::vector<TableRowCount>> tables;
    QString failure;
    {
        Session session(db_);
        if (session.open(form_, state_.selectedDatabaseName())) {
            if (std::optional<std::int32_t> n = session.count(kTableCountStatement, "表数"))
                tables = session.tables(*n);
        }
        failure = session.failure();
    }
    if (!tables) {
        fail(failure);
        return;
    }
    // Opening an old report, or none, would pass for this one: say why instead.
    const stats::WrittenReport written = stats::writeReport(folders_, stats::reportText(*tables));
    if (!written.ok()) {
        fail("无法写入报告文件 " + written.path + "：" + written.error);
        return;
    }
    if (!opener_.open(written.path))
        boxes_.show("报告已写入 " + written.path + "，但无法用默认程序打开它。", kNoticeCaption,
                    mb::IconExclamation);
}

}  // namespace quill
