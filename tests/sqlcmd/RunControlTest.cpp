// quill-sqlcmd end to end: what the window learns beside the output (the
// status channel and the journal), the stop on SIGINT, and resuming.
#include <QRegularExpression>
#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ClientHarness.h"
#include "console/StatusChannel.h"

using namespace quill::test;
using quill::console::JournalEntry;
using quill::console::parseJournal;
using quill::console::parseStatusRecord;

namespace {

// The records, one string each, progress records apart: only the last one
// is certain (they are coalesced in time).
struct Records {
    std::vector<std::string> other;
    std::string lastProgress;
};

Records records(const std::string& channel) {
    Records r;
    std::size_t at = 0;
    while (at < channel.size()) {
        const std::size_t end = channel.find('\n', at);
        const std::string line = channel.substr(at, end - at);
        at = end == std::string::npos ? channel.size() : end + 1;
        EXPECT_TRUE(parseStatusRecord(line)) << line;
        (line.rfind("progress ", 0) == 0 ? r.lastProgress : r.other.emplace_back()) = line;
    }
    return r;
}

std::optional<JournalEntry> journal(const std::string& path) {
    return parseJournal(readFile(path));
}

// A line of many batches, each "print 'batch <n>'" and its GO.
std::string printBatches(int n) {
    std::string script;
    for (int i = 1; i <= n; ++i) {
        script += "print 'batch " + std::to_string(i) + "'\nGO\n";
    }
    return script;
}

TEST_F(ClientTest, StatusRecordsAndJournalFollowTheRunWithFileLines) {
    StandinServer server;
    ASSERT_TRUE(server.isRunning()) << server.startError().toStdString();
    const std::string inc = file("inc.sql", "print 'inc'\nselect from\nGO\n");
    // UTF-8 with a byte-order mark and CRLF, as SSMS saves it. Lines: 1-2
    // fine; 3-5 a syntax error on line 4; 6-7 GO 2, an error each time; 8 a
    // :r whose batch fails in the included file; 9 fine, without a GO.
    const std::string script =
        "\xEF\xBB\xBFPRINT 'start'\r\nGO\r\n-- comment\r\nselect from\r\nGO\r\n"
        "raiserror('twice', 16, 1)\r\nGO 2\r\n:r " +
        inc + "\r\nPRINT 'end'\r\n";
    const std::string path = file("status.sql", script);
    const std::string journalPath = (dir_ / "run.journal").string();
    captureStatus_ = true;
    ClientRun r = run(plus(login(server), {"-i", path}), {{"QUILL_JOURNAL", journalPath}});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;

    // Every server error names the line of the file that was run.
    std::vector<std::string> errors;
    const QRegularExpression msg(
        "^Msg (\\d+), Level \\d+, State \\d+, Server [^,\n]+, Line (\\d+)$",
        QRegularExpression::MultilineOption);
    for (auto it = msg.globalMatch(QString::fromStdString(r.out)); it.hasNext();) {
        const auto m = it.next();
        errors.push_back((m.captured(1) + ":" + m.captured(2)).toStdString());
    }
    EXPECT_EQ(errors, (std::vector<std::string>{"102:4", "50000:6", "50000:6", "102:8"})) << r.out;

    const Records got = records(r.status);
    const std::string size = std::to_string(script.size());
    EXPECT_EQ(got.other, (std::vector<std::string>{"input " + size + " 5", "failed 2 1 3 4",
                                                   "failed 3 2 6 6", "failed 4 1 8 8"}));
    EXPECT_EQ(got.lastProgress, "progress 5 " + size);
    const auto entry = journal(journalPath);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->nextBatch, 6);
    EXPECT_EQ(entry->nextLine, 10);
    // The records travel beside the output, never in it.
    EXPECT_EQ((r.out + r.err).find("failed "), std::string::npos);
}

// The cancelled record, as {batch, line}.
std::pair<long long, long long> cancelled(const ClientRun& r) {
    const Records got = records(r.status);
    if (got.other.empty()) {
        ADD_FAILURE() << "no records";
        return {0, 0};
    }
    const auto record = parseStatusRecord(got.other.back());
    if (!record || record->tag != "cancelled" || record->numbers.size() != 2) {
        ADD_FAILURE() << got.other.back();
        return {0, 0};
    }
    return {record->numbers[0], record->numbers[1]};
}

TEST_F(ClientTest, SigintStopsTheRunAndNothingReachesTheServerAfterIt) {
    StandinServer::Options slow;
    slow.latencyMs = 20;
    StandinServer server(slow);
    ASSERT_TRUE(server.isRunning());
    const std::string journalPath = (dir_ / "stop.journal").string();
    captureStatus_ = true;
    ClientRun r = run(plus(login(server), {"-i", file("long.sql", printBatches(1000))}),
                      {{"QUILL_JOURNAL", journalPath}}, 60, [&](pid_t pid) {
                          ASSERT_TRUE(server.waitForLog("batch print 'batch 100'", 30000));
                          ::kill(pid, SIGINT);
                      });
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, quill::console::kCancelledExitCode) << r.out << r.err;
    const auto [stoppedAt, line] = cancelled(r);
    EXPECT_GT(stoppedAt, 100);
    EXPECT_EQ(line, 2 * stoppedAt - 1);

    // Short batches are let finish, so the stop falls between two of them:
    // the server got each batch before it once, and nothing from it on. Only
    // a batch slowed past the client's patience is cancelled in flight, and
    // may then have run; the client says so.
    const std::vector<std::string> sent = batches(server);
    const bool inFlight = r.out.find("was cancelled on the server") != std::string::npos;
    ASSERT_EQ(static_cast<long long>(sent.size()), stoppedAt - (inFlight ? 0 : 1)) << r.out;
    for (std::size_t i = 0; i < sent.size() && i + 1 < static_cast<std::size_t>(stoppedAt); ++i) {
        ASSERT_EQ(sent[i], "print 'batch " + std::to_string(i + 1) + "'\n");
    }
    const auto entry = journal(journalPath);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->nextBatch, stoppedAt);
    EXPECT_EQ(entry->nextLine, line);
    EXPECT_NE(r.out.find("Sqlcmd: Warning: Interrupted"), std::string::npos) << r.out;
    EXPECT_NE(
        r.out.find("batch " + std::to_string(stoppedAt) + " (line " + std::to_string(line) + ")"),
        std::string::npos)
        << r.out;
}

// Whether the process's main thread is blocked in poll(2), as DB-Library
// waits for the server.
bool waitsInPoll(pid_t pid) {
    return readFile("/proc/" + std::to_string(pid) + "/syscall").rfind("7 ", 0) == 0;
}

TEST_F(ClientTest, SigintCancelsALongBatchOnTheServer) {
    StandinServer::Options slow;
    slow.latencyMs = 2500;
    StandinServer server(slow);
    ASSERT_TRUE(server.isRunning());
    const std::string path = file("slow.sql", "\nprint 'never'\nGO\n");
    captureStatus_ = true;
    // The signal must find the client waiting on batch 1; when a loaded
    // machine has it land before the batch went out, that stop is checked
    // too and the round is played again.
    for (int round = 0; round < 3; ++round) {
        const int attentions = static_cast<int>(server.logEvents("attention").size());
        std::chrono::steady_clock::time_point signalled;
        ClientRun r = run(plus(login(server), {"-i", path}), {}, 60, [&](pid_t pid) {
            // Its session set-up done, the client sends batch 1 and waits.
            // The stand-in logs the set-up as it answers it, when the client
            // is still polling for that answer: give it time to read it and
            // send batch 1, which the server then holds for 2.5 s.
            ASSERT_TRUE(server.waitForLog(" batch SET ANSI_NULLS", 30000));
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!waitsInPoll(pid) && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            ::kill(pid, SIGINT);
            signalled = std::chrono::steady_clock::now();
        });
        EXPECT_EQ(r.exitCode, quill::console::kCancelledExitCode) << r.out << r.err;
        EXPECT_EQ(cancelled(r), (std::pair<long long, long long>{1, 1}));
        EXPECT_TRUE(batches(server).empty());
        if (r.out.find("Interrupted before batch 1") != std::string::npos) {
            continue;
        }
        // The cancel, not the server's answer, ended the batch.
        EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(2));
        EXPECT_EQ(static_cast<int>(server.logEvents("attention").size()), attentions + 1);
        EXPECT_NE(r.out.find("Sqlcmd: Warning: Interrupted: batch 1 (line 1) was cancelled on the "
                             "server"),
                  std::string::npos)
            << r.out;
        return;
    }
    ADD_FAILURE() << "the signal never found batch 1 in flight";
}

TEST_F(ClientTest, AStoppedRunResumedFromItsJournalSendsEveryRowOnce) {
    StandinServer::Options slow;
    slow.latencyMs = 20;
    StandinServer server(slow);
    ASSERT_TRUE(server.isRunning());
    ASSERT_EQ(
        run(plus(
                login(server),
                {"-Q", "CREATE DATABASE [Resume]\nGO\nCREATE TABLE [Resume].[dbo].[T] ([id] int)"}))
            .exitCode,
        0);
    // The data goes into the script's database even when the batch with its
    // USE is one the resumed run does not send.
    std::string script = "USE [Resume]\nGO\n";
    for (int i = 1; i <= 120; ++i) {
        script += "INSERT [dbo].[T] ([id]) VALUES (" + std::to_string(i) + ")\nGO\n";
    }
    const std::string path = file("rows.sql", script);
    const std::string journalPath = (dir_ / "rows.journal").string();
    const auto session = plus(login(server), {"-i", path});

    ClientRun first = run(session, {{"QUILL_JOURNAL", journalPath}}, 60, [&](pid_t pid) {
        ASSERT_TRUE(server.waitForLog("VALUES (40)", 30000));
        ::kill(pid, SIGINT);
    });
    ASSERT_EQ(first.exitCode, quill::console::kCancelledExitCode) << first.out << first.err;
    const auto entry = journal(journalPath);
    ASSERT_TRUE(entry);
    ASSERT_GT(entry->nextBatch, 41);

    // The batch in flight at the stop is the one that may have run and be
    // sent again; short batches are let finish, so this is rare.
    int firstRun = 0;
    for (const std::string& b : batches(server)) {
        firstRun += b.rfind("INSERT", 0) == 0;
    }
    const int again = firstRun - static_cast<int>(entry->nextBatch - 2);
    ASSERT_TRUE(again == 0 || again == 1) << firstRun << " " << entry->nextBatch;

    ClientRun rest = run(plus(session, {"--start-line", std::to_string(entry->nextLine)}),
                         {{"QUILL_JOURNAL", journalPath}});
    EXPECT_EQ(rest.exitCode, 0) << rest.out << rest.err;
    EXPECT_EQ(journal(journalPath)->nextBatch, 122);

    ClientRun count = run(plus(login(server), {"-d", "Resume", "-h", "-1", "-W", "-Q",
                                               "SET NOCOUNT ON SELECT COUNT(*) FROM [dbo].[T]"}));
    EXPECT_EQ(count.out, std::to_string(120 + again) + "\n\n") << count.out << count.err;
    int inserts = 0;
    for (const std::string& b : batches(server)) {
        inserts += b.rfind("INSERT", 0) == 0;
    }
    EXPECT_EQ(inserts, 120 + again);
}

}  // namespace
