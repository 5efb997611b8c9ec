#include <gtest/gtest.h>

#include <random>

#include "exec/ConsoleOutputParser.h"

using namespace quill::exec;

namespace {

const QByteArray kPrompt = "C:\\WINDOWS\\system32>";
const QByteArray kBanner = "Quill 命令解释器\r\n(c) 保留所有权利。\r\n\r\n" + kPrompt;
const QByteArray kSqlEcho = "sqlcmd -U\"sa\" -P\"pw\" -i \"/tmp/a b.sql\"";
const QByteArray kWinEcho = "sqlcmd -i \"/tmp/a b.sql\"";
const EchoedLines kEchoes{kSqlEcho, kWinEcho};

// The log the events leave behind: [B] the banner, which replaces what came
// before it, [C] a completion, text as it is.
std::string render(const std::vector<OutputEvent>& events) {
    QByteArray log;
    for (const auto& e : events) {
        if (e.kind == OutputEvent::Banner)
            log = "[B]";
        else
            log += e.kind == OutputEvent::Completed ? "[C]" : e.bytes;
    }
    return log.toStdString();
}

std::string parse(const std::vector<QByteArray>& chunks, const EchoedLines& echoes = kEchoes) {
    ConsoleOutputParser parser;
    std::vector<OutputEvent> events;
    for (const QByteArray& chunk : chunks)
        parser.feed(chunk, echoes, events);
    return render(events);
}

// Every way of cutting the stream in two.
void expectSameForEveryCut(const QByteArray& before, const QByteArray& stream,
                           const std::string& expected) {
    for (qsizetype cut = 0; cut <= stream.size(); ++cut)
        EXPECT_EQ(parse({before, stream.left(cut), stream.mid(cut)}), expected) << "cut at " << cut;
}

struct Case {
    const char* name;
    std::vector<QByteArray> chunks;
    std::string expected;
};

void expectCases(const std::vector<Case>& cases) {
    for (const Case& c : cases)
        EXPECT_EQ(parse(c.chunks), c.expected) << c.name;
}

TEST(ConsoleOutputParser, StartUp) {
    expectCases({
        {"banner and first prompt together", {kBanner}, "[B][C]"},
        {"banner, then prompt alone", {"Quill\r\n保留所有权利。\r\n\r\n", kPrompt}, "[B][C]"},
        {"start-up text without the phrase is output", {"hello\r\n" + kPrompt}, "hello[C]"},
        {"output before the banner is replaced by it", {"early\r\n", kBanner}, "[B][C]"},
        {"the phrase in a script's output is output",
         {kBanner, "版权：保留所有权利\n"},
         "[B][C]版权：保留所有权利\n"},
        {"an empty chunk changes nothing", {kBanner, ""}, "[B][C]"},
    });
    expectSameForEveryCut({}, kBanner, "[B][C]");
}

TEST(ConsoleOutputParser, EchoIsTakenOutAndNothingElse) {
    expectCases({
        {"echo alone", {kBanner, kSqlEcho + "\r\n"}, "[B][C]"},
        {"echo, output and prompt in one chunk",
         {kBanner, kSqlEcho + "\r\n(1 rows affected)\r\n\r\n" + kPrompt},
         "[B][C]\r\n(1 rows affected)\r\n[C]"},
        {"Windows form", {kBanner, kWinEcho + "\r\nout\n\r\n" + kPrompt}, "[B][C]\r\nout\n[C]"},
        {"echo in other letter case",
         {kBanner, kWinEcho.toUpper() + "\r\nout\n"},
         "[B][C]\r\nout\n"},
        {"echo right after the prompt",
         {"x\r\n" + kPrompt + kWinEcho + "\r\nout\n"},
         "x[C]\r\nout\n"},
        {"a line that only resembles the echo stays",
         {kBanner, "sqlcmd -i \"/tmp/other.sql\"\n"},
         "[B][C]sqlcmd -i \"/tmp/other.sql\"\n"},
    });
    expectSameForEveryCut(kBanner, kSqlEcho + "\r\nout\n", "[B][C]\r\nout\n");
}

TEST(ConsoleOutputParser, StaleEchoIsShownAsOutput) {
    // The login changed between sending and the echo: the echo is no longer known.
    EchoedLines changed{"sqlcmd -U\"other\" -P\"pw\" -i \"/tmp/a b.sql\"", kWinEcho};
    EXPECT_EQ(parse({kBanner, kSqlEcho + "\r\nout\n"}, changed),
              "[B][C]" + kSqlEcho.toStdString() + "\r\nout\n");
}

TEST(ConsoleOutputParser, PromptEndsTheRun) {
    expectCases({
        {"output, then the prompt with its line break",
         {kBanner, "a\r\nb\r\n", "\r\n" + kPrompt},
         "[B][C]a\r\nb\r\n[C]"},
        {"output and prompt in one chunk",
         {kBanner, "last line\n\r\n" + kPrompt},
         "[B][C]last line\n[C]"},
        {"prompt in lower case", {kBanner, "x\r\n" + kPrompt.toLower()}, "[B][C]x[C]"},
        {"two runs",
         {kBanner, kSqlEcho + "\r\nrun 1\n\r\n" + kPrompt, kSqlEcho + "\r\nrun 2\n\r\n" + kPrompt},
         "[B][C]\r\nrun 1\n[C]\r\nrun 2\n[C]"},
        {"something that only starts like the prompt",
         {kBanner, "C:\\WIN", "DOWS\\other\n"},
         "[B][C]C:\\WINDOWS\\other\n"},
    });
    expectSameForEveryCut(kBanner, "out\n\r\n" + kPrompt, "[B][C]out\n[C]");
}

TEST(ConsoleOutputParser, HoldsBackOnlyWhatMayBecomeAPrompt) {
    ConsoleOutputParser parser;
    std::vector<OutputEvent> events;
    parser.feed(kBanner, kEchoes, events);
    parser.feed("rows: 3\r\nC:\\WIN", kEchoes, events);
    EXPECT_EQ(render(events), "[B][C]rows: 3");
    parser.feed("DOWS\\system32>", kEchoes, events);
    EXPECT_EQ(render(events), "[B][C]rows: 3[C]");
}

TEST(ConsoleOutputParser, KeepsTheBytesAsPrintedAndCharactersWhole) {
    const QByteArray text = "中文输出 ✓\r\nsecond\r\n50%\r100%\nbad \xff\xfe byte\n";
    expectSameForEveryCut(kBanner, text + "\r\n" + kPrompt, "[B][C]" + text.toStdString() + "[C]");
    // Each text can be read by itself: a character cut between chunks waits.
    ConsoleOutputParser parser;
    std::vector<OutputEvent> events;
    parser.feed(kBanner, kEchoes, events);
    events.clear();
    parser.feed("ab\xe4\xb8", kEchoes, events);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].bytes, "ab");
    events.clear();
    parser.feed(
        "\xad"
        "cd\xe4",
        kEchoes, events);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].bytes, "中cd");
    // What never completes comes at the end.
    events.clear();
    parser.finish(events);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].bytes, "\xe4");
}

TEST(ConsoleOutputParser, HowTheStreamIsCutNeverMatters) {
    // Streams built from the pieces that matter, cut at random places.
    const QByteArray pieces[] = {kPrompt,
                                 "\r\n" + kPrompt,
                                 kSqlEcho + "\r\n",
                                 kWinEcho + "\r\n",
                                 "C:\\WIN",
                                 "sqlcmd -",
                                 "\r\n",
                                 "\r",
                                 "(1 rows affected)",
                                 "中文输出",
                                 "保留所有权利",
                                 "\xe4\xb8",
                                 "x",
                                 "\n"};
    std::mt19937 random(20240601);
    for (int round = 0; round < 300; ++round) {
        QByteArray stream = round % 2 ? kBanner : QByteArray();
        const int count = int(random() % 30);
        for (int i = 0; i < count; ++i)
            stream += pieces[random() % std::size(pieces)];
        std::vector<QByteArray> chunks;
        for (qsizetype at = 0; at < stream.size();) {
            const qsizetype length = qsizetype(random() % 12);
            chunks.push_back(stream.mid(at, length));
            at += length;
        }
        EXPECT_EQ(parse(chunks), parse({stream})) << stream.toStdString();
    }
}

}  // namespace
