#include <gtest/gtest.h>

#include "exec/MessageParser.h"

using namespace quill::exec;

namespace {

// Errors as one text each: "S208/16/1 p@12: text" or "C: text", and the
// output lines they stand on.
std::vector<std::string> parse(const std::vector<QByteArray>& pieces, QString* lastLine = nullptr,
                               std::vector<qint64>* lines = nullptr) {
    MessageParser parser;
    std::vector<ScriptMessage> out;
    for (const QByteArray& piece : pieces)
        parser.feed(piece, out, lines);
    parser.finish(out, lines);
    if (lastLine)
        *lastLine = parser.lastLine();
    std::vector<std::string> texts;
    for (const ScriptMessage& m : out) {
        if (const auto* s = std::get_if<ServerError>(&m))
            texts.push_back(QString("S%1/%2/%3 %4@%5: %6")
                                .arg(s->number)
                                .arg(s->level)
                                .arg(s->state)
                                .arg(s->procedure)
                                .arg(s->line)
                                .arg(s->message)
                                .toStdString());
        else
            texts.push_back("C: " + std::get<ClientError>(m).message.toStdString());
    }
    return texts;
}

TEST(MessageParser, FindsServerAndClientErrors) {
    struct Case {
        const char* name;
        QByteArray output;
        std::vector<std::string> errors;
    };
    const Case cases[] = {
        {"quill-sqlcmd's error",
         "(1 rows affected)\nMsg 208, Level 16, State 1, Server standin, Line 12\n"
         "Invalid object name 'nosuch'.\n",
         {"S208/16/1 @12: Invalid object name 'nosuch'."}},
        {"in a procedure, CR LF line ends",
         "Msg 50000, Level 16, State 3, Server db01\\实例, Procedure dbo.p_load, Line 7\r\n"
         "加载失败\r\n",
         {"S50000/16/3 dbo.p_load@7: 加载失败"}},
        {"only the first line of a long text",
         "Msg 102, Level 15, State 1, Server S, Line 3\nIncorrect syntax near 'GO'.\nmore\n",
         {"S102/15/1 @3: Incorrect syntax near 'GO'."}},
        {"severity 10 and below is not an error, nor is its text",
         "Msg 50000, Level 10, State 1, Server S, Line 1\nMsg 1, Level 16, State 1, Server S, Line "
         "2\nMsg 50000, Level 11, State 1, Server S, Line 4\nlow\n",
         {"S50000/11/1 @4: low"}},
        {"a header whose text never came",
         "Msg 3701, Level 11, State 5, Server S, Line 9",
         {"S3701/11/5 @9: "}},
        {"three in a row",
         "Msg 208, Level 16, State 1, Server S, Line 2\na\nMsg 208, Level 16, State 1, Server S, "
         "Line 5\nb\nMsg 207, Level 16, State 1, Server S, Line 9\nc\n",
         {"S208/16/1 @2: a", "S208/16/1 @5: b", "S207/16/1 @9: c"}},
        {"the client's own failures",
         "Sqlcmd: Error: FreeTDS DB-Library : Login failed for user 'sa'.\n"
         "Sqlcmd: '-Z': Unknown Option. Enter '-?' for help.\n"
         "Sqlcmd: Warning: The last operation was terminated because the user pressed CTRL+C.\n",
         {"C: FreeTDS DB-Library : Login failed for user 'sa'.",
          "C: '-Z': Unknown Option. Enter '-?' for help."}},
        {"lines that only resemble a header",
         "Msg 208 was raised\nMsg 208, Level 16, State 1, Server S, Line x\nnot a message\n"
         "  Msg 208, Level 16, State 1, Server S, Line 2\nPRINT 'Sqlcmd: Error: no'\n"
         "Msg 99999999999, Level 16, State 1, Server S, Line 2\nx\n",
         {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse({c.output}), c.errors) << c.name;
        // However the stream is cut, characters included.
        for (qsizetype cut = 0; cut <= c.output.size(); ++cut)
            EXPECT_EQ(parse({c.output.left(cut), c.output.mid(cut)}), c.errors)
                << c.name << " cut at " << cut;
    }
}

TEST(MessageParser, KeepsTheLastLineThatIsNotBlank) {
    QString last;
    parse({"找不到程序：sqlcmd\n", "\n  \n"}, &last);
    EXPECT_EQ(last, "找不到程序：sqlcmd");
    parse({"first\nsec", "ond"}, &last);
    EXPECT_EQ(last, "second");
    parse({QByteArray(10000, 'x') + "\n"}, &last);
    EXPECT_EQ(last.size(), 4096);
    // A long line is cut the same wherever the stream was cut.
    EXPECT_EQ(
        parse({"Sqlcmd: Error: " + QByteArray(3000, 'x'), QByteArray(3000, 'y') + "\n"}, &last),
        parse({"Sqlcmd: Error: " + QByteArray(3000, 'x') + QByteArray(3000, 'y') + "\n"}));
    EXPECT_EQ(last, "Sqlcmd: Error: " + QString(3000, 'x') + QString(1081, 'y'));
}

TEST(MessageParser, TellsTheLineEachErrorStandsOn) {
    const QByteArray output =
        "(1 rows affected)\r\n"
        "Msg 208, Level 16, State 1, Server S, Line 2\r\nInvalid object name 'a'.\r\n"
        "Msg 50000, Level 10, State 1, Server S, Line 3\r\ninformation\r\n"
        "Sqlcmd: Error: Connection failure.\n"
        "Msg 207, Level 16, State 1, Server S, Line 9";
    for (qsizetype cut = 0; cut <= output.size(); cut += 7) {
        std::vector<qint64> lines;
        parse({output.left(cut), output.mid(cut)}, nullptr, &lines);
        EXPECT_EQ(lines, (std::vector<qint64>{1, 5, 6})) << "cut at " << cut;
    }
}

TEST(MessageParser, KnowsARefusedLogin) {
    EXPECT_TRUE(isLoginFailure(ServerError{18456, 14, 1, {}, 1, "Login failed for user 'sa'."}));
    EXPECT_TRUE(isLoginFailure(ClientError{"FreeTDS DB-Library : Login failed for user 'sa'."}));
    EXPECT_TRUE(
        isLoginFailure(ClientError{"ODBC Driver 18 for SQL Server : 用户 'sa' 登录失败。"}));
    EXPECT_FALSE(isLoginFailure(ServerError{208, 16, 1, {}, 1, "Login failed (text only)"}));
    EXPECT_FALSE(isLoginFailure(ClientError{"Error occurred while opening or operating on file"}));
}

}  // namespace
