#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "Options.h"
#include "Output.h"
#include "Printer.h"
#include "Script.h"
#include "Variables.h"

using namespace quill::sqlcmd;
namespace fs = std::filesystem;

namespace {

struct BatchRun {
    std::string text;
    long startLine;
    long repeat;
    bool operator==(const BatchRun&) const = default;
};

std::ostream& operator<<(std::ostream& os, const BatchRun& r) {
    return os << "{" << testing::PrintToString(r.text) << " @" << r.startLine << " x" << r.repeat
              << "}";
}

class FakeExecutor : public Executor {
public:
    ExecResult execute(const Batch& b, long repeat) override {
        runs.push_back({b.text, b.startLine(), repeat});
        lastBatch = b;
        return respond(b);
    }
    ExecResult executeForValue(const Batch& b) override { return execute(b, 1); }
    std::size_t batchLimit() const override { return limit; }

    std::vector<BatchRun> runs;
    Batch lastBatch;
    std::function<ExecResult(const Batch&)> respond = [](const Batch&) { return ExecResult{}; };
    std::size_t limit = 1 << 20;
};

// Fails batches that contain `marker` with the given severity.
std::function<ExecResult(const Batch&)> failing(std::string marker, int severity = 16) {
    return [=](const Batch& b) {
        ExecResult r;
        if (b.text.find(marker) != std::string::npos) {
            r.maxSeverity = severity;
        }
        return r;
    };
}

// The status channel's view of a run, one line per event.
class RecordingObserver : public RunObserver {
public:
    void scanned(long long bytes, long batches) override {
        events.push_back("input " + std::to_string(bytes) + " " + std::to_string(batches));
    }
    void skipped(const BatchPlace& p) override {
        events.push_back("skip " + std::to_string(p.number));
    }
    void starting(const BatchPlace&) override {}
    void finished(const BatchPlace& p, int errors, bool complete) override {
        std::string e = "done " + std::to_string(p.number) + " " + std::to_string(p.firstLine) +
                        "-" + std::to_string(p.lastLine) + " end " + std::to_string(p.endLine) +
                        " next " + std::to_string(p.nextLine) + " at " +
                        std::to_string(p.endOffset);
        if (errors) {
            e += " errors " + std::to_string(errors);
        }
        if (!complete) {
            e += " incomplete";
        }
        events.push_back(e);
    }
    void interrupted(const BatchPlace& p, bool inFlight) override {
        events.push_back("stop " + std::to_string(p.number) +
                         (inFlight ? " in flight" : " before"));
    }
    void ended() override { events.push_back("end"); }

    std::vector<std::string> events;
};

class ScriptTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("quill-script-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string file(const std::string& name, const std::string& content) {
        fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }

    // Runs the script as main does; returns the exit code, output in output_.
    int run(Options o) {
        const fs::path outPath = dir_ / "output.txt";
        int fd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int code;
        {
            Output out(fd, fd);
            Printer printer(out, o.messageLevel, -1);
            Variables vars;
            EXPECT_FALSE(defineVariables(o, vars));
            observer_ = RecordingObserver();
            Script script(o, vars, printer, &observer_);
            code = script.prepare();
            if (code == 0) {
                code = script.run(executor_);
            }
        }
        ::close(fd);
        std::ifstream in(outPath, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        output_ = ss.str();
        return code;
    }

    Options with(std::vector<std::string> inputs) {
        Options o;
        o.inputs = std::move(inputs);
        return o;
    }

    fs::path dir_;
    FakeExecutor executor_;
    RecordingObserver observer_;
    std::string output_;
};

TEST_F(ScriptTest, SsmsScriptRunsBatchByBatchWithFileLines) {
    const std::string script =
        "USE [master]\r\nGO\r\n"
        "/****** Object:  Database [测试]    Script Date: 2024/1/2 ******/\r\n"
        "CREATE DATABASE [测试]\r\nGO\r\n"
        "SET IDENTITY_INSERT [dbo].[T] ON \r\n"
        "INSERT [dbo].[T] ([id], [txt]) VALUES (1, N'line one\r\nGO\r\nline three')\r\n"
        "INSERT [dbo].[T] ([id], [txt]) VALUES (2, N'/* not a comment')\r\n"
        "/* GO\r\nGO */\r\n"
        "SET IDENTITY_INSERT [dbo].[T] OFF\r\nGO 2\r\n"
        "PRINT 'tail without GO'";
    EXPECT_EQ(run(with({file("ssms.sql", "\xEF\xBB\xBF" + script)})), 0);
    EXPECT_EQ(executor_.runs,
              (std::vector<BatchRun>{
                  {"USE [master]\r\n", 1, 1},
                  {"/****** Object:  Database [测试]    Script Date: 2024/1/2 ******/\r\nCREATE "
                   "DATABASE [测试]\r\n",
                   3, 1},
                  {"SET IDENTITY_INSERT [dbo].[T] ON \r\n"
                   "INSERT [dbo].[T] ([id], [txt]) VALUES (1, N'line one\r\nGO\r\nline three')\r\n"
                   "INSERT [dbo].[T] ([id], [txt]) VALUES (2, N'/* not a comment')\r\n"
                   "/* GO\r\nGO */\r\n"
                   "SET IDENTITY_INSERT [dbo].[T] OFF\r\n",
                   6, 2},
                  {"PRINT 'tail without GO'", 15, 1},
              }));
}

TEST_F(ScriptTest, ErrorsExitCodesAndStopping) {
    struct Case {
        const char* name;
        bool stopOnError;
        int errorLevel;
        const char* onError;  // a ":on error" line at the top, or ""
        int severity;
        int code;
        std::size_t batchesRun;
    } cases[] = {
        {"default goes on, exit 0", false, 0, "", 16, 0, 3},
        {"-b stops with 1", true, 0, "", 16, 1, 2},
        {"-b ignores informational", true, 0, "", 10, 0, 3},
        {"-V sets the code and goes on", false, 16, "", 16, 16, 3},
        {"-V above the severity", false, 17, "", 16, 0, 3},
        {"-b -V stops with the severity", true, 11, "", 15, 15, 2},
        {"-b -V above the severity goes on", true, 17, "", 16, 0, 3},
        {":on error exit", false, 0, ":on error exit\n", 16, 1, 2},
        {":on error ignore beats -b", true, 0, ":on error ignore\n", 16, 0, 3},
    };
    for (const auto& c : cases) {
        executor_ = FakeExecutor();
        executor_.respond = failing("bad", c.severity);
        Options o = with(
            {file("e.sql", std::string(c.onError) + "select 1\nGO\nselect bad\nGO\nselect 3\n")});
        o.stopOnError = c.stopOnError;
        o.errorLevel = c.errorLevel;
        EXPECT_EQ(run(o), c.code) << c.name;
        EXPECT_EQ(executor_.runs.size(), c.batchesRun) << c.name;
    }
}

TEST_F(ScriptTest, StateOneTwentySevenAndLostConnectionsStopAtOnce) {
    executor_.respond = [](const Batch& b) {
        ExecResult r;
        if (b.text.find("raiserror") != std::string::npos) {
            r.abortCode = 50000;
        }
        return r;
    };
    EXPECT_EQ(run(with({file("a.sql", "raiserror('x', 10, 127)\nGO\nselect 2\n")})), 50000);
    EXPECT_EQ(executor_.runs.size(), 1u);

    executor_ = FakeExecutor();
    executor_.respond = [](const Batch&) {
        ExecResult r;
        r.connectionLost = true;
        return r;
    };
    EXPECT_EQ(run(with({file("b.sql", "select 1\nGO\nselect 2\n")})), 1);
    EXPECT_EQ(executor_.runs.size(), 1u);
}

TEST_F(ScriptTest, ExitAndQuit) {
    executor_.respond = [](const Batch&) {
        ExecResult r;
        r.exitValue = 7;
        return r;
    };
    EXPECT_EQ(run(with({file("x.sql",
                             "select 1\nGO\ninsert t values(1)\nexit(select 7)\nselect never\n")})),
              7);
    ASSERT_EQ(executor_.runs.size(), 2u);
    EXPECT_EQ(executor_.runs[1].text, "insert t values(1)\n\nselect 7");

    for (const char* stop : {"exit\n", "quit\n", ":EXIT\n"}) {
        executor_ = FakeExecutor();
        EXPECT_EQ(run(with({file(
                      "q.sql", std::string("select 1\nGO\npending\n") + stop + "select never\n")})),
                  0);
        EXPECT_EQ(executor_.runs.size(), 1u) << stop;  // the pending batch is not run
    }
}

TEST_F(ScriptTest, BatchPlacesAsTheStatusRecordsCountThem) {
    // Lines: 1 text, 2 GO, 3 GO with nothing before it (no batch), 4 blank,
    // 5-6 text, 7 GO 2 (one batch), 8 the rest without GO.
    const std::string head = "select 1\r\nGO\r\n";
    const std::string middle = "GO\r\n\r\nselect 2\r\nselect 3\r\nGO 2\r\n";
    const std::string text = head + middle + "select 4";
    std::string utf16 = "\xFF\xFE";
    for (char c : text) {
        utf16 += c;
        utf16 += '\0';
    }
    struct Case {
        const char* name;
        std::string content;
        std::size_t bom;
        std::size_t unit;  // bytes a character
    } cases[] = {
        {"UTF-8 with byte-order mark", "\xEF\xBB\xBF" + text, 3, 1},
        {"UTF-16LE", utf16, 2, 2},
    };
    for (const auto& c : cases) {
        executor_ = FakeExecutor();
        EXPECT_EQ(run(with({file("places.sql", c.content)})), 0) << c.name;
        auto at = [&](std::size_t chars) { return std::to_string(c.bom + c.unit * chars); };
        EXPECT_EQ(observer_.events,
                  (std::vector<std::string>{
                      "input " + std::to_string(c.content.size()) + " 3",
                      "done 1 1-1 end 2 next 3 at " + at(head.size()),
                      "done 2 4-6 end 7 next 8 at " + at(head.size() + middle.size()),
                      "done 3 8-8 end 8 next 9 at " + std::to_string(c.content.size()),
                      "end",
                  }))
            << c.name;
        ASSERT_EQ(executor_.runs.size(), 3u);
        EXPECT_EQ(executor_.runs[1].repeat, 2);
    }
}

TEST_F(ScriptTest, BatchesFromAnIncludedFileCountAtTheirRLine) {
    const std::string inc = file("inc.sql", "select 'i'\nGO\nselect 'j'\n");
    const std::string head = "select 1\n:r " + inc + "\n";
    const std::string middle = "select 2\nGO\n";
    const std::string script = head + middle + "select 3\n";
    EXPECT_EQ(run(with({file("main.sql", script)})), 0);
    EXPECT_EQ(observer_.events,
              (std::vector<std::string>{
                  "input " + std::to_string(script.size()) + " 3",
                  "done 1 1-2 end 2 next 2 at " + std::to_string(head.size()),
                  "done 2 2-3 end 4 next 5 at " + std::to_string(head.size() + middle.size()),
                  "done 3 5-5 end 5 next 6 at " + std::to_string(script.size()),
                  "end",
              }));
}

// Large batches are read and split ahead on a thread of their own, a few
// megabytes deep: same batches, same order, and a stop with the reader
// waiting for room ends it too.
TEST_F(ScriptTest, LargeBatchesReadAheadInOrderAndStopCleanly) {
    std::string script;
    for (int i = 1; i <= 40; ++i) {
        script += "select " + std::to_string(i) + " /*" + std::string(150 << 10, 'x') + "*/\nGO\n";
    }
    const std::string path = file("large.sql", script);
    EXPECT_EQ(run(with({path})), 0);
    ASSERT_EQ(executor_.runs.size(), 40u);
    for (std::size_t i = 0; i < executor_.runs.size(); ++i) {
        EXPECT_EQ(executor_.runs[i].text.rfind("select " + std::to_string(i + 1) + " /*x", 0), 0u)
            << i;
    }
    executor_ = FakeExecutor();
    executor_.respond = failing("select 5 ");
    Options o = with({path});
    o.stopOnError = true;
    EXPECT_EQ(run(o), 1);
    EXPECT_EQ(executor_.runs.size(), 5u);
}

TEST_F(ScriptTest, StartOptionsSkipBatchesButKeepWhatStillMatters) {
    const std::string script =
        ":setvar t T1\n:on error exit\nselect 1 from $(t)\nGO\n"  // batch 1, lines 1-4
        ":listvar\n:setvar t T2\nselect 2 from $(t)\nGO\n"        // batch 2, lines 5-8
        "select bad\nGO\n"                                        // batch 3, lines 9-10
        "select 4\n";                                             // batch 4, line 11
    const std::string path = file("resume.sql", script);
    struct Start {
        long batch;
        long line;
    } starts[] = {{2, 0}, {0, 5}, {0, 7}, {0, 8}};
    for (const auto& start : starts) {
        executor_ = FakeExecutor();
        executor_.respond = failing("bad");
        Options o = with({path});
        o.startBatch = start.batch;
        o.startLine = start.line;
        // :on error exit, read before the start, still stops the run at batch 3.
        EXPECT_EQ(run(o), 1) << start.batch << "/" << start.line;
        EXPECT_EQ(executor_.runs, (std::vector<BatchRun>{{"\n\nselect 2 from T2\n", 5, 1},
                                                         {"select bad\n", 9, 1}}));
        ASSERT_GE(observer_.events.size(), 3u);
        EXPECT_EQ(observer_.events[1], "skip 1");
        EXPECT_EQ(observer_.events[2].substr(0, 23), "done 2 5-7 end 8 next 9");
        // What follows the last finished batch (the :listvar) is the resumed part's.
        EXPECT_NE(output_.find("t = \"T1\""), std::string::npos) << output_;
    }

    struct Refused {
        long batch;
        long line;
        const char* message;
    } refused[] = {
        {5, 0, "Cannot start at batch 5: the script has 4 batches."},
        {0, 12, "Cannot start at line 12: the script's last batch ends on line 11."},
    };
    for (const auto& r : refused) {
        executor_ = FakeExecutor();
        Options o = with({path});
        o.startBatch = r.batch;
        o.startLine = r.line;
        EXPECT_EQ(run(o), 1);
        EXPECT_TRUE(executor_.runs.empty());
        EXPECT_NE(output_.find(r.message), std::string::npos) << output_;
    }
}

TEST_F(ScriptTest, AResumedRunSetsTheDatabaseOfTheSkippedBatchesAgain) {
    const std::string path = file("data.sql",
                                  "USE [Shop]\nGO\nSET IDENTITY_INSERT [dbo].[T] ON\nGO\n"
                                  "INSERT [dbo].[T] ([id]) VALUES (1)\nGO\n"
                                  "INSERT [dbo].[T] ([id]) VALUES (2)\nGO\n");
    Options o = with({path});
    o.startBatch = 4;
    EXPECT_EQ(run(o), 0);
    EXPECT_EQ(executor_.runs, (std::vector<BatchRun>{
                                  {"USE [Shop]\nSET IDENTITY_INSERT [dbo].[T] ON\n", 1, 1},
                                  {"INSERT [dbo].[T] ([id]) VALUES (2)\n", 7, 1},
                              }));
    // Where that fails, nothing of the script is sent.
    executor_ = FakeExecutor();
    executor_.respond = failing("USE [Shop]");
    EXPECT_EQ(run(o), 1);
    EXPECT_EQ(executor_.runs.size(), 1u);
    EXPECT_NE(output_.find("Sqlcmd: Error: The database and SET options that the batches before "
                           "batch 4 (line 7) left behind could not be set again"),
              std::string::npos)
        << output_;
}

namespace interrupt {
bool requested = false;
bool check() {
    return requested;
}
}  // namespace interrupt

TEST_F(ScriptTest, AnInterruptStopsTheRunWithItsOwnExitCode) {
    const std::string path = file("stop.sql", "select 1\nGO\nselect 2\nGO\nselect 3\n");
    struct Case {
        const char* name;
        bool cancelledInFlight;  // else the SIGINT comes as batch 2 ends
        const char* event;
        const char* line;
    } cases[] = {
        {"between batches", false, "stop 3 before",
         "Sqlcmd: Warning: Interrupted before batch 3 (line 5); it and the batches after it "
         "were not sent.\n"},
        {"in flight", true, "stop 2 in flight",
         "Sqlcmd: Warning: Interrupted: batch 2 (line 3) was cancelled on the server and may be "
         "partly applied; nothing after it was sent.\n"},
    };
    for (const auto& c : cases) {
        executor_ = FakeExecutor();
        interrupt::requested = false;
        executor_.respond = [&](const Batch& b) {
            ExecResult r;
            if (b.text == "select 2\n") {
                interrupt::requested = true;
                r.cancelled = c.cancelledInFlight;
            }
            return r;
        };
        const fs::path outPath = dir_ / "stop.txt";
        int fd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int code;
        {
            Output out(fd, fd);
            Printer printer(out, 0, -1);
            Variables vars;
            observer_ = RecordingObserver();
            Options o = with({path});
            Script script(o, vars, printer, &observer_);
            script.setInterruptCheck(&interrupt::check);
            ASSERT_EQ(script.prepare(), 0);
            code = script.run(executor_);
        }
        ::close(fd);
        EXPECT_EQ(code, 130) << c.name;
        EXPECT_EQ(executor_.runs.size(), 2u) << c.name;
        EXPECT_NE(std::find(observer_.events.begin(), observer_.events.end(), c.event),
                  observer_.events.end())
            << c.name;
        std::ifstream in(outPath);
        std::stringstream ss;
        ss << in.rdbuf();
        EXPECT_EQ(ss.str(), c.line) << c.name;
    }
    interrupt::requested = false;
}

// Server lines are reported as lines of the script that was run: text that
// a :r brought in stands on its :r line.
TEST_F(ScriptTest, ServerLinesMapToTheTopLevelFile) {
    file("inc.sql", "-- included\nselect 'inc'\n");
    const std::string main = "select 1\n:r " + (dir_ / "inc.sql").string() + "\nselect 2\nGO\n";
    EXPECT_EQ(run(with({file("main.sql", main)})), 0);
    ASSERT_EQ(executor_.runs.size(), 1u);
    EXPECT_EQ(executor_.runs[0].text, "select 1\n\n-- included\nselect 'inc'\nselect 2\n");
    const Batch& b = executor_.lastBatch;
    EXPECT_EQ(b.topLine(1), 1);  // select 1
    EXPECT_EQ(b.topLine(4), 2);  // select 'inc': the :r line
    EXPECT_EQ(b.topLine(5), 3);  // select 2, line 3 of main.sql
}

TEST_F(ScriptTest, IncludeCycleStops) {
    const std::string self = (dir_ / "self.sql").string();
    file("self.sql", "select 1\n:r " + self + "\n");
    EXPECT_EQ(run(with({self})), 1);
    EXPECT_NE(output_.find("nesting is deeper than"), std::string::npos) << output_;
    EXPECT_TRUE(executor_.runs.empty());
}

TEST_F(ScriptTest, BrokenScriptsStopBeforeAnythingRuns) {
    struct Case {
        const char* name;
        std::string content;
        const char* message;
    } cases[] = {
        {"gbk without -f", "select 1\nGO\n" + std::string(5000, '-') + "\nselect N'\xD6\xD0'\n",
         "cannot be read as UTF-8: byte 0xD6 is not valid UTF-8 at byte offset 5022 (line 4)."},
        {"bad GO count", "select 1\nGO\nselect 2\nGO x\n",
         "Syntax error at line 4 near command 'GO' in file"},
        {"unsupported command", "select 1\nGO\n:connect other\n",
         "The command ':connect' at line 3"},
        {"missing include", "select 1\nGO\n:r /nonexistent/x.sql\n",
         "Error occurred while opening or operating on file /nonexistent/x.sql (Reason: No such "
         "file or directory)."},
    };
    for (const auto& c : cases) {
        executor_ = FakeExecutor();
        EXPECT_EQ(run(with({file("broken.sql", c.content)})), 1) << c.name;
        EXPECT_TRUE(executor_.runs.empty()) << c.name;
        EXPECT_NE(output_.find(c.message), std::string::npos) << c.name << ": " << output_;
    }
}

TEST_F(ScriptTest, MissingDirectoryAndEmptyInputs) {
    EXPECT_EQ(run(with({(dir_ / "none.sql").string()})), 1);
    EXPECT_NE(output_.find("Sqlcmd: Error: Error occurred while opening or operating on file"),
              std::string::npos);
    EXPECT_EQ(run(with({dir_.string()})), 1);
    EXPECT_NE(output_.find("(Reason: Is a directory)"), std::string::npos);
    // Every file is checked before the first runs.
    EXPECT_EQ(run(with({file("ok.sql", "select 1\n"), (dir_ / "none.sql").string()})), 1);
    EXPECT_TRUE(executor_.runs.empty());
    EXPECT_EQ(run(with({file("empty.sql", "")})), 0);
    EXPECT_EQ(run(with({file("blank.sql", "\r\n  \r\nGO\r\n")})), 0);
    EXPECT_TRUE(executor_.runs.empty());
    EXPECT_EQ(output_, "");
}

TEST_F(ScriptTest, SeveralFilesEachEndTheirBatchAndLexerState) {
    EXPECT_EQ(run(with({file("1.sql", "select 'open\n"), file("2.sql", "select 2\nGO\n")})), 0);
    EXPECT_EQ(executor_.runs,
              (std::vector<BatchRun>{{"select 'open\n", 1, 1}, {"select 2\n", 1, 1}}));
}

TEST_F(ScriptTest, VariablesOnlyWhenTheScriptOrCommandLineDefinesThem) {
    // A data script with jQuery in its strings: no substitution, no error.
    const std::string data = "insert t values(N'$(document).ready(); $(''#grid'')')\nGO\n";
    EXPECT_EQ(run(with({file("data.sql", data)})), 0);
    ASSERT_EQ(executor_.runs.size(), 1u);
    EXPECT_EQ(executor_.runs[0].text, "insert t values(N'$(document).ready(); $(''#grid'')')\n");
    EXPECT_EQ(output_, "");

    // A :setvar anywhere turns substitution on from the first line.
    executor_ = FakeExecutor();
    EXPECT_EQ(run(with({file("v.sql", "use [$(db)]\nGO\n:setvar db Sales\nuse [$(db)]\n")})), 0);
    EXPECT_EQ(executor_.runs,
              (std::vector<BatchRun>{{"use [$(db)]\n", 1, 1}, {"\nuse [Sales]\n", 3, 1}}));
    EXPECT_EQ(output_, "'db' scripting variable not defined.\n");

    // -v does too; with -b an undefined variable stops the script.
    executor_ = FakeExecutor();
    Options o = with({file("b.sql", "select $(a)\nGO\nselect '$(missing)'\nGO\nselect 3\n")});
    o.variables = {{"a", "42"}};
    o.stopOnError = true;
    EXPECT_EQ(run(o), 1);
    EXPECT_EQ(executor_.runs, (std::vector<BatchRun>{{"select 42\n", 1, 1}}));

    // A malformed reference stops the script before anything runs.
    executor_ = FakeExecutor();
    EXPECT_EQ(run(with({file("m.sql", "select 1\nGO\nselect '$(''#x'')'\n:setvar a 1\n")})), 1);
    EXPECT_TRUE(executor_.runs.empty());
    EXPECT_NE(output_.find("Syntax error at line 3 near command '$('"), std::string::npos)
        << output_;

    // -x keeps the text as written.
    executor_ = FakeExecutor();
    Options x = with({file("x.sql", ":setvar a 1\nselect '$(a)'\n")});
    x.noSubstitution = true;
    EXPECT_EQ(run(x), 0);
    EXPECT_EQ(executor_.runs[0].text, "\nselect '$(a)'\n");
}

TEST_F(ScriptTest, OversizedBatchIsRefusedAndReportedNotSent) {
    executor_.limit = 100;  // bytes of UTF-16: 50 characters
    std::string big = "select '" + std::string(60, 'x') + "'\n";
    Options o = with({file("big.sql", "select 1\nGO\n" + big + "GO\nselect 3\n")});
    EXPECT_EQ(run(o), 0);
    EXPECT_EQ(executor_.runs, (std::vector<BatchRun>{{"select 1\n", 1, 1}, {"select 3\n", 5, 1}}));
    EXPECT_NE(
        output_.find(
            "Sqlcmd: Error: The batch that starts at line 3 is larger than the server accepts"),
        std::string::npos)
        << output_;
    o.stopOnError = true;
    executor_ = FakeExecutor();
    executor_.limit = 100;
    EXPECT_EQ(run(o), 1);
    EXPECT_EQ(executor_.runs.size(), 1u);
}

TEST_F(ScriptTest, QueryEchoAndCommands) {
    Options o;
    o.query = "select 1\nGO 3\nselect 2";
    o.exitAfterQuery = true;
    o.echo = true;
    EXPECT_EQ(run(o), 0);
    EXPECT_EQ(executor_.runs, (std::vector<BatchRun>{{"select 1\n", 1, 3}, {"select 2", 3, 1}}));
    EXPECT_EQ(output_, "select 1\nselect 2\n");
}

TEST_F(ScriptTest, ListvarAndShellCommands) {
    Options o = with({file("l.sql",
                           ":setvar Zeta 1\n:setvar abc \"100\"\n:listvar\n!! rm -rf /\n"
                           ":!! rm -rf /\nselect 1\n")});
    o.server = "db1";
    o.database = "Shop";
    EXPECT_EQ(run(o), 0);
    EXPECT_EQ(executor_.runs, (std::vector<BatchRun>{{"\n\n\n\n\nselect 1\n", 1, 1}}));
    // sqlcmd's form: the client's own variables first, each group by name.
    std::vector<std::string> lines;
    std::istringstream in(output_);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_GE(lines.size(), 5u) << output_;
    const std::vector<std::string> tail(lines.end() - 4, lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "abc = \"100\"",
                        "Zeta = \"1\"",
                        "Sqlcmd: Warning: The !! command is disabled; line 4 was not run.",
                        "Sqlcmd: Warning: The !! command is disabled; line 5 was not run.",
                    }));
    const std::vector<std::string> builtin(lines.begin(), lines.end() - 4);
    EXPECT_TRUE(std::is_sorted(builtin.begin(), builtin.end()));
    for (const auto& line : builtin) {
        EXPECT_EQ(line.rfind("SQLCMD", 0), 0u) << line;
        EXPECT_NE(line.find(" = \""), std::string::npos) << line;
    }
    EXPECT_NE(std::find(builtin.begin(), builtin.end(), "SQLCMDSERVER = \"db1\""), builtin.end());
    EXPECT_NE(std::find(builtin.begin(), builtin.end(), "SQLCMDDBNAME = \"Shop\""), builtin.end());
}

}  // namespace
