#include <gtest/gtest.h>

#include <atomic>

#include "Encode.h"
#include "Splitter.h"
#include "preflight/ScriptScanner.h"

using namespace quill::preflight;
using quill::test::encodeAs;

namespace {

ScriptFacts scan(const std::string& bytes, int codePage = 0) {
    MemorySource source(bytes);
    ScanOptions options;
    options.codePage = codePage;
    return scanScript(source, options);
}

// An SSMS-style script with Chinese names and data, in UTF-8.
const std::string kChineseScript =
    "USE [master]\r\nGO\r\n"
    "CREATE TABLE [dbo].[客户表]([编号] [int] NOT NULL, [名称] [nvarchar](50) NULL)\r\nGO\r\n"
    "INSERT [dbo].[客户表] ([编号], [名称]) VALUES (1, N'北京市海淀区')\r\n"
    "INSERT [dbo].[客户表] ([编号], [名称]) VALUES (2, N'上海')\r\nGO\r\n";

std::string bom16le(const std::string& utf8) {
    return "\xFF\xFE" + encodeAs(utf8, "UTF-16LE");
}

TEST(ScriptScanner, DecidesTheEncodingAndTheCodePageToName) {
    const std::string big5 = encodeAs("INSERT [資料表] VALUES (N'臺北')\r\nGO\r\n", "BIG5");
    const std::string cp1252 = encodeAs("INSERT [t] VALUES (N'José')\r\nGO\r\n", "CP1252");
    // 𠀀 (U+20000) is not in GBK; GB18030 has it as four bytes.
    const std::string gb18030 =
        encodeAs("INSERT [表] VALUES (N'中文')\nGO\nINSERT [表] VALUES (N'𠀀')\nGO\n", "GB18030");
    // A megabyte of ASCII before the first GBK byte: the guess carries on
    // from where UTF-8 failed.
    const std::string longAsciiThenGbk =
        "-- " + std::string(3 << 20, '-') + "\nGO\n" + encodeAs("SELECT N'中文'\nGO\n", "GBK");
    struct Case {
        const char* name;
        std::string bytes;
        TextEncoding encoding;
        int codePage;
        bool needsCodePage;
        long batches;
    } cases[] = {
        {"UTF-16LE with BOM", bom16le(kChineseScript), TextEncoding::Utf16LE, 0, false, 3},
        {"UTF-16BE with BOM", "\xFE\xFF" + encodeAs(kChineseScript, "UTF-16BE"),
         TextEncoding::Utf16BE, 0, false, 3},
        {"UTF-16LE without BOM", encodeAs(kChineseScript, "UTF-16LE"), TextEncoding::Utf16LE, 1200,
         false, 3},
        {"UTF-8", kChineseScript, TextEncoding::Utf8, 65001, false, 3},
        {"UTF-8 with BOM", "\xEF\xBB\xBF" + kChineseScript, TextEncoding::Utf8Bom, 65001, false, 3},
        {"ASCII", "SELECT 1\nGO\n", TextEncoding::Utf8, 65001, false, 1},
        {"empty", "", TextEncoding::Utf8, 65001, false, 0},
        {"GBK", encodeAs(kChineseScript, "GBK"), TextEncoding::CodePage, 936, false, 3},
        {"ASCII, then GBK", longAsciiThenGbk, TextEncoding::CodePage, 936, false, 2},
        {"GB18030 beyond GBK", gb18030, TextEncoding::CodePage, 54936, false, 2},
        {"Big5", big5, TextEncoding::CodePage, 0, true, 0},
        {"1252", cp1252, TextEncoding::CodePage, 0, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ScriptFacts f = scan(c.bytes);
        EXPECT_EQ(f.size, c.bytes.size());
        EXPECT_EQ(f.encoding, c.encoding);
        EXPECT_EQ(f.codePage, c.codePage);
        EXPECT_EQ(f.needsCodePage, c.needsCodePage);
        EXPECT_EQ(f.decodeFailure.has_value(), c.needsCodePage);
        if (!c.needsCodePage) {
            EXPECT_EQ(f.batches, c.batches);
        }
        EXPECT_EQ(f.runnable(), !c.needsCodePage);
    }
}

TEST(ScriptScanner, ShowsALegacyCodePageSampleAsDecoded) {
    const ScriptFacts gbk = scan(encodeAs(kChineseScript, "GBK"));
    EXPECT_EQ(gbk.sample,
              "CREATE TABLE [dbo].[客户表]([编号] [int] NOT NULL, [名称] [nvarchar](50) NULL)");
    EXPECT_TRUE(scan(kChineseScript).sample.empty());  // UTF-8 needs no second look
}

TEST(ScriptScanner, ReadsWithTheCodePageTheUserChose) {
    const ScriptFacts big5 =
        scan(encodeAs("INSERT [資料表] VALUES (N'臺北')\r\nGO\r\n", "BIG5"), 950);
    EXPECT_EQ(big5.codePage, 950);
    EXPECT_TRUE(big5.runnable());
    EXPECT_EQ(big5.sample, "INSERT [資料表] VALUES (N'臺北')");

    // A byte-order mark still wins over the choice, as in the client.
    const ScriptFacts bom = scan(bom16le(kChineseScript), 1252);
    EXPECT_EQ(bom.encoding, TextEncoding::Utf16LE);
    EXPECT_EQ(bom.codePage, 0);

    const ScriptFacts bogus = scan("SELECT 1\n", 4242);
    ASSERT_TRUE(bogus.decodeFailure);
    EXPECT_EQ(bogus.decodeFailure->kind, DecodeFailure::Kind::Unsupported);
}

TEST(ScriptScanner, SaysWhereTextCannotBeDecoded) {
    struct Case {
        const char* name;
        std::string bytes;
        DecodeFailure::Kind kind;
        std::uint64_t offset;
        long line;
    } cases[] = {
        {"NUL in UTF-8", std::string("SELECT 1\nGO\nSELECT '\0'\n", 23), DecodeFailure::Kind::Nul,
         20, 3},
        {"NUL in GBK", encodeAs("SELECT N'中文'\n", "GBK") + std::string("X\0", 2),
         DecodeFailure::Kind::Nul, 16, 2},
        {"UTF-8 cut at the end", "SELECT 1\nSELECT N'中" + std::string("\xE6\x96", 2),
         DecodeFailure::Kind::Truncated, 21, 2},
        {"UTF-16 with an odd last byte", bom16le("SELECT 1\n") + "x",
         DecodeFailure::Kind::Truncated, 20, 2},
        {"UTF-16 NUL", bom16le("SELECT 1\n\nGO") + std::string("\0\0", 2), DecodeFailure::Kind::Nul,
         26, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ScriptFacts f = scan(c.bytes);
        ASSERT_TRUE(f.decodeFailure);
        EXPECT_EQ(f.decodeFailure->kind, c.kind);
        EXPECT_EQ(f.decodeFailure->offset, c.offset);
        EXPECT_EQ(f.decodeFailure->line, c.line);
        EXPECT_FALSE(f.needsCodePage);  // no code page mends these
        EXPECT_FALSE(f.runnable());
    }
}

TEST(ScriptScanner, CountsBatchesAsTheClientSplitsThem) {
    struct Case {
        const char* name;
        std::string text;
        long batches;
        long largest;      // its number
        long largestLine;  // the line it starts on
        bool exact;
    } cases[] = {
        {"trailing batch without GO", "SELECT 1\nGO\nSELECT 22\n", 2, 2, 3, true},
        {"GO n is one batch", "SELECT 1\nGO 5\n", 1, 1, 1, true},
        {"blank batches are not sent", "\nGO\n  \t\nGO\nSELECT 1\nGO\nGO\n", 1, 1, 5, true},
        {"comment-only batches are", "-- note\nGO\n", 1, 1, 1, true},
        {"GO in comments and strings", "SELECT '\nGO\n'\n/*\nGO\n*/\nGO\n", 1, 1, 1, true},
        {"GO with tab and comment", "SELECT 1\ngo\t-- x\nSELECT 2\n", 2, 1, 1, true},
        {"lines of :setvar stay", ":setvar a 1\nSELECT 1\nGO\nSELECT 2\n", 2, 1, 1, true},
        {":r is not followed", "SELECT 1\n:r other.sql\nGO\n", 1, 1, 1, false},
        {"exit stops reading", "SELECT 1\nGO\nexit\nSELECT 2\nGO\n", 1, 1, 1, true},
        {"exit(query) sends its batch", "SELECT 1\nGO\n:exit(SELECT 2)\nSELECT 3\n", 2, 1, 1, true},
        {"a syntax error stops the count", "SELECT 1\nGO\nGO x\nSELECT 2\n", 1, 1, 1, false},
        {"largest batch", "SELECT 1\nGO\nSELECT 1,2,3,4,5\nGO\nSELECT 1\n", 3, 2, 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ScriptFacts f = scan(c.text);
        EXPECT_EQ(f.batches, c.batches);
        EXPECT_EQ(f.largestBatch, c.largest);
        EXPECT_EQ(f.largestBatchLine, c.largestLine);
        EXPECT_EQ(f.batchesExact, c.exact);
        // The same script in UTF-16 and GBK splits the same way.
        EXPECT_EQ(scan(bom16le(c.text)).batches, c.batches);
        EXPECT_EQ(scan(encodeAs(c.text, "GBK"), 936).batches, c.batches);
    }
}

TEST(ScriptScanner, TellsLineEndings) {
    struct Case {
        std::string text;
        LineEndings endings;
        long lines;
    } cases[] = {
        {"a\r\nb\r\n", LineEndings::Crlf, 2},
        {"a\nb", LineEndings::Lf, 2},
        {"a\r\nb\nc\r\n", LineEndings::Mixed, 3},
        {"a", LineEndings::None, 1},
        {"", LineEndings::None, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const ScriptFacts f = scan(c.text);
        EXPECT_EQ(f.lineEndings, c.endings);
        EXPECT_EQ(f.lines, c.lines);
        EXPECT_EQ(scan(bom16le(c.text)).lineEndings, c.endings);
    }
    // A CR LF pair split between two read blocks is still one CRLF.
    std::string split((1 << 20) - 1, 'x');
    EXPECT_EQ(scan(split + "\r\n").lineEndings, LineEndings::Crlf);
}

TEST(ScriptScanner, ListsCommandsAndWhatTheClientRefuses) {
    const ScriptFacts f = scan(
        ":setvar db Shop\n:on error exit\nUSE [$(db)]\nGO\n!! ls\n:setvar x 1\n"
        ":connect other\n:out file.txt\nSELECT '$(x)', '$(nothing)'\nGO\n");
    ASSERT_TRUE(f.command(":setvar"));
    EXPECT_EQ(f.command(":setvar")->count, 2);
    EXPECT_EQ(f.command(":setvar")->firstLine, 1);
    EXPECT_EQ(f.command(":on error")->firstLine, 2);
    EXPECT_FALSE(f.command("!!")->refused);
    EXPECT_TRUE(f.command(":connect")->refused);
    EXPECT_EQ(f.command(":out")->firstLine, 8);
    EXPECT_FALSE(f.runnable());
    EXPECT_EQ(f.variableReferences, 3);
    EXPECT_EQ(f.firstVariableLine, 3);
    // Replaced from the first line, like the client: only "nothing" has no value.
    ASSERT_EQ(f.undefinedVariables.size(), 1u);
    EXPECT_EQ(f.undefinedVariables[0].first, "nothing");
    EXPECT_EQ(f.undefinedVariables[0].second, 9);
}

TEST(ScriptScanner, VariablesMatterOnlyWithSetvar) {
    // Data from web pages: without :setvar the client leaves $( alone.
    const std::string jquery = "INSERT [t] VALUES (N'$(document).ready(')\nGO\n";
    const ScriptFacts plain = scan(jquery);
    EXPECT_EQ(plain.variableReferences, 1);
    EXPECT_FALSE(plain.syntaxError);
    EXPECT_TRUE(plain.undefinedVariables.empty());
    EXPECT_TRUE(plain.runnable());

    const ScriptFacts withSetvar = scan(":setvar a 1\n" + jquery + "INSERT [t] VALUES (N'$(a')\n");
    ASSERT_TRUE(withSetvar.syntaxError);
    EXPECT_EQ(withSetvar.syntaxError->near, "$(");
    EXPECT_EQ(withSetvar.syntaxError->line, 4);
    EXPECT_FALSE(withSetvar.runnable());
}

TEST(ScriptScanner, FindsTheSourceServersDataFilePaths) {
    const std::string ssms =
        "USE [master]\r\nGO\r\n"
        "/****** Object:  Database [商城]    Script Date: 2024/3/1 ******/\r\n"
        "CREATE DATABASE [商城]\r\n CONTAINMENT = NONE\r\n ON  PRIMARY \r\n"
        "( NAME = N'商城', FILENAME = N'C:\\Program Files\\Microsoft SQL "
        "Server\\MSSQL\\DATA\\商城.mdf' , SIZE = 8192KB )\r\n"
        " LOG ON \r\n( NAME = N'商城_log', FILENAME = N'C:\\Program Files\\Microsoft SQL "
        "Server\\MSSQL\\DATA\\商城_log.ldf' , SIZE = 8192KB )\r\nGO\r\n"
        "INSERT [t] VALUES (N'FILENAME = ''x''')\r\nGO\r\n";
    for (const std::string& bytes : {ssms, bom16le(ssms), encodeAs(ssms, "GBK")}) {
        const ScriptFacts f = scan(bytes);
        ASSERT_EQ(f.databaseFiles.size(), 2u);
        EXPECT_EQ(f.databaseFiles[0].database, "商城");
        EXPECT_EQ(f.databaseFiles[0].path,
                  "C:\\Program Files\\Microsoft SQL Server\\MSSQL\\DATA\\商城.mdf");
        EXPECT_EQ(f.databaseFiles[0].line, 7);
        EXPECT_EQ(f.databaseFiles[1].path,
                  "C:\\Program Files\\Microsoft SQL Server\\MSSQL\\DATA\\商城_log.ldf");
        EXPECT_EQ(f.databaseFiles[1].line, 9);
    }
}

TEST(ScriptScanner, CallbacksHearOnlyTheReadingThatCounts) {
    // Valid UTF-8 up to the GBK text: the guess of GBK starts over.
    const std::string bytes = "SELECT N'\xC3\xA9'\nGO\n" + encodeAs("SELECT N'中文'\nGO\n", "GBK");
    MemorySource source(bytes);
    std::vector<long> numbers;
    ScanOptions options;
    options.onBatch = [&](long number, long) { numbers.push_back(number); };
    const ScriptFacts f = scanScript(source, options);
    EXPECT_EQ(f.codePage, 936);
    EXPECT_EQ(numbers, (std::vector<long>{1, 2}));
}

TEST(ScriptScanner, StopsWhenCancelled) {
    std::atomic<bool> cancel{true};
    MemorySource source("SELECT 1\nGO\n");
    ScanOptions options;
    options.cancel = &cancel;
    EXPECT_TRUE(scanScript(source, options).cancelled);
}

TEST(ScriptScanner, ReportsAFileItCannotRead) {
    EXPECT_EQ(scanScriptFile("/nonexistent/x.sql").readError, ENOENT);
    EXPECT_EQ(scanScriptFile("/tmp").readError, EISDIR);
}

}  // namespace
