#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "Format.h"
#include "Output.h"

using namespace quill::sqlcmd;

namespace {

TEST(Format, MessagesAsSqlcmdPrintsThem) {
    ServerMessage m{102, 15, 1, "SRV\\SQLEXPRESS", "", 39, "Incorrect syntax near 'x'."};
    EXPECT_EQ(formatMessage(m, true),
              "Msg 102, Level 15, State 1, Server SRV\\SQLEXPRESS, Line 39\nIncorrect syntax near "
              "'x'.\n");
    m.procedure = "usp_load";
    EXPECT_EQ(formatMessage(m, true),
              "Msg 102, Level 15, State 1, Server SRV\\SQLEXPRESS, Procedure usp_load, Line 39\n"
              "Incorrect syntax near 'x'.\n");
    ServerMessage print{0, 0, 1, "SRV", "", 1, "进度 50%"};
    EXPECT_EQ(formatMessage(print, false), "进度 50%\n");
    RowsAffectedBuffer buffer;
    EXPECT_EQ(formatRowsAffected(1, buffer), "\n(1 rows affected)\n");
    EXPECT_EQ(formatRowsAffected(9223372036854775807LL, buffer),
              "\n(9223372036854775807 rows affected)\n");
}

TEST(Format, ResultSetColumns) {
    struct Case {
        const char* name;
        TableOptions options;
        std::string expected;
    } cases[] = {
        {"default: padded to the wider of name and type, numbers right",
         {},
         "id          name     \n"
         "----------- ---------\n"
         "          1 中文       \n"
         "         22 NULL     \n"},
        {"-W trims and -s separates",
         {"|", 0, true, 0},
         "id|name\n"
         "--|----\n"
         "1|中文\n"
         "22|NULL\n"},
        {"-h -1 drops headings",
         {" ", -1, false, 0},
         "          1 中文       \n"
         "         22 NULL     \n"},
        {"-h 1 repeats them",
         {" ", 1, false, 0},
         "id          name     \n"
         "----------- ---------\n"
         "          1 中文       \n"
         "\n"
         "id          name     \n"
         "----------- ---------\n"
         "         22 NULL     \n"},
        {"-w wraps long lines",
         {" ", -1, false, 12},
         "          1 \n中文       \n"
         "         22 \nNULL     \n"},
    };
    for (const auto& c : cases) {
        TableFormatter t(c.options);
        std::string out = t.begin({{"id", 11, true, false}, {"name", 9, false, false}});
        out += t.row({std::string("1"), std::string("中文")});
        out += t.row({std::string("22"), std::nullopt});
        EXPECT_EQ(out, c.expected) << c.name;
    }
}

TEST(Format, LongValuesAreCutToTheColumnUnlessUnlimited) {
    TableFormatter t({});
    t.begin({{"c", 3, false, false}, {"u", 0, false, true}});
    EXPECT_EQ(t.row({std::string("abcdef"), std::string("whole value")}), "abc whole value\n");
}

// Output gathers lines, yet a reader sees them soon without an explicit
// flush, in the order written, errors included.
TEST(Output, WritesPendingTextSoonAndInOrder) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    std::string seen;
    auto drain = [&] {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0) {
            seen.append(buf, static_cast<std::size_t>(n));
        }
    };
    {
        Output out(fds[1], fds[1]);
        for (int i = 0; i < 1000; ++i) {
            out.write("line " + std::to_string(i) + "\n");
            drain();
        }
        out.writeError("error\n");
        out.write("after\n");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (seen.find("after\n") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            drain();
        }
        EXPECT_NE(seen.find("after\n"), std::string::npos) << "not written without a flush";
    }
    ::close(fds[1]);
    drain();
    ::close(fds[0]);
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        expected += "line " + std::to_string(i) + "\n";
    }
    EXPECT_EQ(seen, expected + "error\nafter\n");
}

TEST(Output, ConvertsToTheOutputCodePage) {
    char path[] = "/tmp/quill-output-XXXXXX";
    int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    {
        Output out(fd, fd, 936);
        out.write("中文 \xF0\x9F\x98\x80\n");
    }
    char buf[64];
    ssize_t n = ::pread(fd, buf, sizeof buf, 0);
    ::close(fd);
    ::unlink(path);
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(n)), "\xD6\xD0\xCE\xC4 ?\n");
}

}  // namespace
