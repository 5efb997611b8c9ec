// How fast quill-standin answers, so that benchmarks using it measure their
// own subject: INSERT statements per second arriving in batches of 1,000
// over one connection, and the answer time of the statistics statements on
// a 10,000-table catalog. Each figure is printed with its ratio to the
// target (50,000 INSERTs/s; well under 1 s). Run: build/bin/quill-bench-standin
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "standin/Bytes.h"
#include "standin/Packets.h"

using namespace standin;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kBatchSize = 1000;
constexpr double kInsertTarget = 50000;  // statements per second
constexpr double kCatalogTarget = 1.0;   // seconds
const char* kPassword = "Bench-1";
const char* kDriver = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";

[[noreturn]] void die(const std::string& why) {
    std::fprintf(stderr, "quill-bench-standin: %s\n", why.c_str());
    std::exit(1);
}

struct StandinProcess {
    pid_t pid = -1;
    int port = 0;
    StandinProcess(const std::string& binary, const std::string& catalog) {
        int out[2];
        if (pipe(out) != 0)
            die("pipe");
        pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            execl(binary.c_str(), binary.c_str(), "--port", "0", "--password", kPassword,
                  "--catalog", catalog.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        char buf[32] = {};
        ssize_t n = read(out[0], buf, sizeof buf - 1);
        close(out[0]);
        port = n > 0 ? std::atoi(buf) : 0;
        if (port <= 0)
            die("quill-standin did not start: " + binary);
    }
    ~StandinProcess() {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
};

// A minimal TDS client: PRELOGIN, LOGIN7, then SQL batches; a reply is read
// up to its end-of-message packet.
class Client {
public:
    Client(int port, const char16_t* database) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            die("connect");
        int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Bytes prelogin = {0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00,
                          0x01, 0xFF, 9,    0,    0,    0,    0,    0,    0x02};
        exchange(PacketType::Prelogin, prelogin);
        Bytes reply = exchange(PacketType::Login7, login7(database));
        if (reply.size() < 13 || (reply[reply.size() - 12] & 0x02))
            die("login refused");
    }
    ~Client() { close(fd_); }

    Bytes batch(const std::u16string& sql) {
        Bytes p;
        ByteWriter w(p);
        w.u32(22);
        w.u32(18);
        w.u16(2);
        w.u64(0);
        w.u32(1);
        w.utf16(sql);
        return exchange(PacketType::SqlBatch, p);
    }

private:
    Bytes exchange(PacketType type, const Bytes& payload) {
        Bytes packets = framePackets(type, payload, 4096, 0);
        for (std::size_t sent = 0; sent < packets.size();) {
            ssize_t n = send(fd_, packets.data() + sent, packets.size() - sent, 0);
            if (n <= 0)
                die("send");
            sent += static_cast<std::size_t>(n);
        }
        MessageAssembler in;
        std::uint8_t buf[65536];
        for (;;) {
            if (auto m = in.next())
                return std::move(m->payload);
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n <= 0)
                die("connection closed");
            in.feed(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(n)));
        }
    }

    static Bytes login7(const char16_t* database) {
        std::u16string user = u"sa",
                       password(kPassword, kPassword + std::char_traits<char>::length(kPassword)),
                       db = database;
        Bytes b(94, 0);
        ByteWriter w(b);
        b[4] = 0x04, b[7] = 0x74, b[9] = 0x10, b[25] = 0x03;
        auto field = [&](std::size_t at, const std::u16string& s, bool scramble) {
            b[at] = static_cast<std::uint8_t>(b.size());
            b[at + 1] = static_cast<std::uint8_t>(b.size() >> 8);
            b[at + 2] = static_cast<std::uint8_t>(s.size());
            std::size_t start = b.size();
            w.utf16(s);
            if (scramble)
                for (std::size_t i = start; i < b.size(); ++i)
                    b[i] = static_cast<std::uint8_t>(((b[i] << 4) | (b[i] >> 4)) ^ 0xA5);
        };
        field(40, user, false);
        field(44, password, true);
        field(68, db, false);
        b[0] = static_cast<std::uint8_t>(b.size());
        return b;
    }

    int fd_;
};

// Rows as SQL Server Management Studio scripts them.
std::u16string insertBatch() {
    std::u16string sql;
    for (int i = 0; i < kBatchSize; ++i) {
        std::u16string n = fromUtf8(std::to_string(i));
        sql += u"INSERT [dbo].[t] ([id], [name], [price], [made]) VALUES (" + n + u", N'物品 " + n +
               u" 的名称', CAST(12.50 AS Decimal(18, 2)), CAST(N'2023-12-24T10:00:00.000' AS "
               u"DateTime))\n";
    }
    return sql;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Seconds for `f`, the median of a few runs.
double timed(int runs, const std::function<void()>& f) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        f();
        t.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    return median(t);
}

void insertsWithOwnClient(int port) {
    Client c(port, u"Bench");
    const std::u16string sql = insertBatch();
    constexpr int kBatches = 50;
    double s = timed(5, [&] {
        for (int b = 0; b < kBatches; ++b) {
            Bytes reply = c.batch(sql);
            // One DONE of 13 bytes per INSERT, nothing else.
            if (reply.size() != 13u * kBatchSize || reply[0] != 0xFD)
                die("unexpected reply to the INSERT batch");
        }
    });
    double rate = kBatches * kBatchSize / s;
    std::printf(
        "INSERTs, batches of %d, own TDS client:    %10.0f statements/s   ratio to %.0f/s: "
        "%5.1fx\n",
        kBatchSize, rate, kInsertTarget, rate / kInsertTarget);
}

struct Odbc {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    explicit Odbc(int port, const char* database) {
        SQLAllocEnv(&env);
        SQLAllocConnect(env, &dbc);
        std::string cs = std::string("DRIVER=") + kDriver + ";SERVER=127.0.0.1," +
                         std::to_string(port) + ";UID=sa;PWD=" + kPassword +
                         ";DATABASE=" + database + ";TDS_Version=7.4;Encryption=off";
        SQLCHAR out[1024];
        SQLSMALLINT len;
        if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()),
                                            SQL_NTS, out, sizeof out, &len, SQL_DRIVER_NOPROMPT)))
            die("ODBC connect failed");
    }
    ~Odbc() {
        SQLDisconnect(dbc);
        SQLFreeConnect(dbc);
        SQLFreeEnv(env);
    }
};

void insertsWithOdbc(int port) {
    Odbc odbc(port, "Bench");
    std::string sql = toUtf8(insertBatch());
    constexpr int kBatches = 20;
    double s = timed(3, [&] {
        for (int b = 0; b < kBatches; ++b) {
            SQLHSTMT st;
            SQLAllocStmt(odbc.dbc, &st);
            if (!SQL_SUCCEEDED(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS)))
                die("ODBC INSERT failed");
            int results = 1;
            while (SQLMoreResults(st) == SQL_SUCCESS)
                ++results;
            if (results != kBatchSize)
                die("ODBC saw " + std::to_string(results) + " results");
            SQLFreeStmt(st, SQL_DROP);
        }
    });
    double rate = kBatches * kBatchSize / s;
    std::printf(
        "INSERTs, batches of %d, FreeTDS ODBC:      %10.0f statements/s   ratio to %.0f/s: "
        "%5.1fx\n",
        kBatchSize, rate, kInsertTarget, rate / kInsertTarget);
}

const char16_t* kTableList =
    u"SELECT   a.name AS 表名, MAX(b.rows) AS 记录条数\r\nFROM      sys.sysobjects AS a INNER "
    u"JOIN\r\n"
    u"                sys.sysindexes AS b ON a.id = b.id\r\nWHERE   (a.xtype = 'u')\r\nGROUP BY "
    u"a.name\r\n"
    u"ORDER BY 记录条数 DESC\r\n";
const char16_t* kRowTotal =
    u"SELECT   SUM(记录条数) AS 总记录数\r\nFROM      (SELECT   TOP (10000) a.name AS 表名, "
    u"MAX(b.rows) AS 记录条数\r\n"
    u"                 FROM      sys.sysobjects AS a INNER JOIN\r\n"
    u"                                 sys.sysindexes AS b ON a.id = b.id\r\n"
    u"                 WHERE   (a.xtype = 'u')\r\n                 GROUP BY a.name\r\n"
    u"                 ORDER BY 记录条数 DESC) AS t1";
const char16_t* kTableCount =
    u"select count(1) from sysobjects where xtype='U'  \r\n------------------------------ "
    u"‘查询表数’"
    u"------------------------------------";

void catalogAnswers(int port) {
    Client c(port, u"Big");
    struct Query {
        const char* what;
        const char16_t* sql;
    };
    for (Query q : {Query{"table count", kTableCount}, Query{"row total", kRowTotal},
                    Query{"table list (10,000 rows)", kTableList}}) {
        double s = timed(5, [&] {
            Bytes reply = c.batch(q.sql);
            // The reply ends with the statement's DONE; its status tells of errors.
            if (reply.size() < 13 || reply[reply.size() - 13] != 0xFD ||
                (reply[reply.size() - 12] & 0x02))
                die("error answering the catalog query");
        });
        std::printf("10,000-table catalog, %-26s %8.1f ms             ratio to %.0f s: %6.3f\n",
                    q.what, s * 1000, kCatalogTarget, s / kCatalogTarget);
    }

    // The same list as the tool reads it: a static cursor, one fetch per row.
    Odbc odbc(port, "Big");
    std::string list = toUtf8(kTableList);
    double s = timed(3, [&] {
        SQLHSTMT st;
        SQLAllocStmt(odbc.dbc, &st);
        SQLSetStmtOption(st, SQL_CURSOR_TYPE, SQL_CURSOR_STATIC);
        SQLSetStmtOption(st, SQL_CONCURRENCY, SQL_CONCUR_READ_ONLY);
        SQLPrepare(st, reinterpret_cast<SQLCHAR*>(list.data()), SQL_NTS);
        if (!SQL_SUCCEEDED(SQLExecute(st)))
            die("cursor open failed");
        SQLULEN fetched;
        SQLUSMALLINT status;
        int rows = 0;
        while (SQLExtendedFetch(st, SQL_FETCH_NEXT, 0, &fetched, &status) == SQL_SUCCESS)
            ++rows;
        SQLExtendedFetch(st, SQL_FETCH_FIRST, 0, &fetched, &status);
        if (rows != 10000)
            die("cursor gave " + std::to_string(rows) + " rows");
        SQLFreeStmt(st, SQL_DROP);
    });
    std::printf(
        "10,000-table catalog, table list via ODBC cursor (a fetch per row): %8.1f ms   ratio to "
        "%.0f s: %6.3f\n",
        s * 1000, kCatalogTarget, s / kCatalogTarget);
}

std::string writeCatalog() {
    std::string path = "/tmp/quill-bench-standin-" + std::to_string(getpid()) + ".json";
    std::ofstream f(path);
    f << R"({"databases":[{"name":"Bench","tables":[{"name":"t","rows":0}]},{"name":"Big","tables":[)";
    for (int i = 0; i < 10000; ++i)
        f << (i ? "," : "") << R"({"name":"表)" << i << R"(","rows":)" << (i * 37) % 100000
          << (i % 3 == 0 ? R"(,"indexRows":[)" + std::to_string((i * 37) % 100000) + ",5]" : "")
          << "}";
    f << "]}]}";
    return path;
}

}  // namespace

int main(int, char** argv) {
    std::string self = argv[0];
    std::string binary = self.substr(0, self.rfind('/') + 1) + "quill-standin";
    std::string catalog = writeCatalog();
    {
        StandinProcess server(binary, catalog);
        std::printf("quill-standin benchmark (port %d)\n", server.port);
        insertsWithOwnClient(server.port);
        insertsWithOdbc(server.port);
        catalogAnswers(server.port);
    }
    std::remove(catalog.c_str());
    return 0;
}
