#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "support/StandinServer.h"

// The server the end-to-end tests talk to: quill-standin, started for the
// test, or a real server when QUILL_TEST_SERVER names one (./test --server
// HOST[,PORT] --login L --password P sets it, with QUILL_TEST_LOGIN and
// QUILL_TEST_PASSWORD).
//
// On a real server, tests make what they need with SQL, in databases whose
// names carry a test prefix ("quilltest_<pid>_"), and drop them again;
// nothing else there is created, changed or dropped. Tests that need the
// stand-in itself (its event log, its latency, row counts no real table
// could hold) skip there with QUILL_NEEDS_STANDIN.
namespace quill::test {

struct RealServer {
    QString server;  // HOST or HOST,PORT
    QString login;
    QString password;
};

// The real server of this run, if any.
std::optional<RealServer> realServer();

// Skips the running test on a real server, giving the reason.
#define QUILL_NEEDS_STANDIN(why)                                                \
    do {                                                                        \
        if (::quill::test::realServer())                                        \
            GTEST_SKIP() << "needs quill-standin (" << why << "); real server"; \
    } while (false)

// A user table to make: its rows are numbered 1..rows in an int column id.
struct TableSpec {
    QString name;
    int rows = 0;
    QString schema = "dbo";
    // A primary key and a second index: several sysindexes entries.
    bool indexed = false;
};

class TestServer {
public:
    // The stand-in with these options, or the real server (which ignores
    // them: give it what a test needs with createDatabase).
    explicit TestServer(StandinServer::Options options = {});
    // Drops the databases made with createDatabase on a real server.
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    bool isRunning() const;
    QString startError() const;
    bool isReal() const { return real_.has_value(); }
    // The stand-in, or nothing on a real server.
    StandinServer* standin() const { return standin_.get(); }

    QString serverText() const;
    QString login() const;
    QString password() const;
    // For FreeTDS's ODBC driver registered as "SQL Server".
    QString odbcConnectString(const QString& database = {}) const;

    // The name a test database goes by here: `base` on the stand-in, in
    // lower case with the test prefix on a real server.
    QString databaseName(const QString& base) const;
    // Creates the database databaseName(base) with these tables (rows put
    // in with INSERT), replacing one left over from an earlier run of this
    // test; returns its name, or an empty text after ADD_FAILURE.
    QString createDatabase(const QString& base, const std::vector<TableSpec>& tables = {});
    // A test database made another way (by a script under test): dropped
    // with the others on a real server.
    void dropAfterwards(const QString& name) { created_ << name; }
    // Runs SQL batches one after another in `database` (the login's
    // default when empty); the driver's messages of the first that fails,
    // or an empty text.
    QString execute(const QStringList& batches, const QString& database = {}) const;
    // Column 1 of the first row of a query, as text; empty when it fails.
    QString queryText(const QString& query) const;
    // Babelfish for PostgreSQL, whose differences some checks allow for.
    bool isBabelfish() const;

private:
    std::optional<RealServer> real_;
    std::unique_ptr<StandinServer> standin_;
    QStringList created_;
};

}  // namespace quill::test
