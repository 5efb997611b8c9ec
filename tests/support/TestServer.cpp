#include "support/TestServer.h"

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <unistd.h>
#include <QRegularExpression>

#include <cstdio>
#include <vector>

namespace quill::test {

namespace {

// Brackets for a name in T-SQL.
QString bracketed(const QString& name) {
    return "[" + QString(name).replace("]", "]]") + "]";
}

// Braces for a connect string value that needs them.
QString braced(const QString& value) {
    return value.contains(QRegularExpression("[;{}= ]")) ? "{" + value + "}" : value;
}

const SQLWCHAR* wide(const QString& s) {
    return reinterpret_cast<const SQLWCHAR*>(s.utf16());
}

QString diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    QStringList out;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> text(SQL_MAX_MESSAGE_LENGTH + 1);
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, i, state, &native, text.data(),
                                          SQLSMALLINT(text.size()), &length)))
            break;
        out << QString::fromUtf16(reinterpret_cast<const char16_t*>(text.data()));
    }
    return out.isEmpty() ? QStringLiteral("failed without a message") : out.join('\n');
}

// One ODBC connection for setting things up, apart from the code under test.
class Connection {
public:
    explicit Connection(const QString& connectString) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
        const SQLRETURN rc =
            SQLDriverConnectW(dbc_, nullptr, const_cast<SQLWCHAR*>(wide(connectString)), SQL_NTS,
                              nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(rc))
            error_ = diagnostics(SQL_HANDLE_DBC, dbc_);
        connected_ = SQL_SUCCEEDED(rc);
    }
    ~Connection() {
        if (connected_)
            SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const QString& error() const { return error_; }

    // Runs a batch and reads all its results; the messages when it fails.
    QString execute(const QString& batch) {
        if (!connected_)
            return error_;
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
        SQLRETURN rc = SQLExecDirectW(stmt, const_cast<SQLWCHAR*>(wide(batch)), SQL_NTS);
        while (SQL_SUCCEEDED(rc))
            rc = SQLMoreResults(stmt);
        const QString failure = rc == SQL_ERROR
                                    ? batch.left(200) + ": " + diagnostics(SQL_HANDLE_STMT, stmt)
                                    : QString();
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return failure;
    }

    QString queryText(const QString& query) {
        if (!connected_)
            return {};
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
        QString value;
        if (SQL_SUCCEEDED(SQLExecDirectW(stmt, const_cast<SQLWCHAR*>(wide(query)), SQL_NTS)) &&
            SQL_SUCCEEDED(SQLFetch(stmt))) {
            std::vector<SQLWCHAR> text(4096);
            SQLLEN length = 0;
            if (SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_WCHAR, text.data(),
                                         SQLLEN(text.size() * sizeof(SQLWCHAR)), &length)))
                value = QString::fromUtf16(reinterpret_cast<const char16_t*>(text.data()));
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return value;
    }

private:
    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    bool connected_ = false;
    QString error_;
};

}  // namespace

std::optional<RealServer> realServer() {
    const QString server = qEnvironmentVariable("QUILL_TEST_SERVER");
    if (server.isEmpty())
        return std::nullopt;
    return RealServer{server, qEnvironmentVariable("QUILL_TEST_LOGIN", "sa"),
                      qEnvironmentVariable("QUILL_TEST_PASSWORD")};
}

TestServer::TestServer(StandinServer::Options options) : real_(realServer()) {
    if (!real_)
        standin_ = std::make_unique<StandinServer>(std::move(options));
}

TestServer::~TestServer() {
    for (const QString& name : created_) {
        const QString failure = execute({"DROP DATABASE IF EXISTS " + bracketed(name)});
        if (!failure.isEmpty())
            std::fprintf(stderr, "test database %s left behind: %s\n", qPrintable(name),
                         qPrintable(failure));
    }
}

bool TestServer::isRunning() const {
    return real_ || standin_->isRunning();
}

QString TestServer::startError() const {
    return standin_ ? standin_->startError() : QString();
}

QString TestServer::serverText() const {
    return real_ ? real_->server : standin_->serverText();
}

QString TestServer::login() const {
    return real_ ? real_->login : standin_->login();
}

QString TestServer::password() const {
    return real_ ? real_->password : standin_->password();
}

QString TestServer::odbcConnectString(const QString& database) const {
    if (standin_)
        return standin_->odbcConnectString(database);
    const qsizetype comma = real_->server.indexOf(',');
    QString s = "DRIVER=SQL Server;SERVER=" + braced(real_->server.left(comma));
    s += ";PORT=" + (comma < 0 ? QString("1433") : real_->server.mid(comma + 1));
    s += ";UID=" + braced(real_->login) + ";PWD=" + braced(real_->password);
    s += ";TDS_Version=7.4;ClientCharset=UTF-8";
    if (!database.isEmpty())
        s += ";DATABASE=" + braced(database);
    return s;
}

QString TestServer::databaseName(const QString& base) const {
    // Lower case: Babelfish lists every database name so.
    return real_ ? QStringLiteral("quilltest_%1_%2").arg(::getpid()).arg(base.toLower()) : base;
}

QString TestServer::execute(const QStringList& batches, const QString& database) const {
    Connection c(odbcConnectString());
    if (!c.error().isEmpty())
        return c.error();
    QStringList all = batches;
    if (!database.isEmpty())
        all.prepend("USE " + bracketed(database));
    for (const QString& batch : all)
        if (QString failure = c.execute(batch); !failure.isEmpty())
            return failure;
    return {};
}

QString TestServer::queryText(const QString& query) const {
    Connection c(odbcConnectString());
    return c.queryText(query);
}

bool TestServer::isBabelfish() const {
    return real_ && queryText("select @@version").startsWith("Babelfish");
}

QString TestServer::createDatabase(const QString& base, const std::vector<TableSpec>& tables) {
    const QString name = databaseName(base);
    QStringList create;
    if (real_)
        create << "DROP DATABASE IF EXISTS " + bracketed(name);
    create << "CREATE DATABASE " + bracketed(name);
    if (QString failure = execute(create); !failure.isEmpty()) {
        ADD_FAILURE() << "cannot create " << name.toStdString() << ": " << failure.toStdString();
        return {};
    }
    created_ << name;

    QStringList fill;
    QStringList schemas;
    for (const TableSpec& t : tables) {
        if (t.schema != "dbo" && !schemas.contains(t.schema)) {
            schemas << t.schema;
            fill << "CREATE SCHEMA " + bracketed(t.schema);
        }
        const QString table = bracketed(t.schema) + "." + bracketed(t.name);
        fill << "CREATE TABLE " + table + (t.indexed ? " (id int PRIMARY KEY)" : " (id int)");
        if (t.indexed)
            fill << "CREATE INDEX " + bracketed(t.name + "_by_id") + " ON " + table + " (id)";
        // At most 1000 rows to an INSERT ... VALUES.
        for (int first = 1; first <= t.rows; first += 1000) {
            QStringList values;
            for (int id = first; id <= std::min(t.rows, first + 999); ++id)
                values << QStringLiteral("(%1)").arg(id);
            fill << "INSERT INTO " + table + " (id) VALUES " + values.join(',');
        }
    }
    if (fill.isEmpty())
        return name;
    if (QString failure = execute(fill, name); !failure.isEmpty()) {
        ADD_FAILURE() << "cannot fill " << name.toStdString() << ": " << failure.toStdString();
        return {};
    }
    return name;
}

}  // namespace quill::test
