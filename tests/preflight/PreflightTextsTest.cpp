#include <gtest/gtest.h>

#include "Encode.h"
#include "preflight/PreflightQuestions.h"
#include "preflight/PreflightTexts.h"
#include "support/TestServices.h"

using namespace quill::preflight;

namespace {

ScriptFacts scan(const std::string& bytes) {
    MemorySource source(bytes);
    return scanScript(source);
}

TEST(PreflightTexts, TheResumeOfferReadsAsSpecified) {
    quill::test::ScriptedChoices choices;
    choices.setNextAnswer(0);
    choices.setNextAnswer(1);
    choices.setNextAnswer(-1);
    EXPECT_EQ(askResume(choices, {401, 1604}), ResumeAnswer::Continue);
    EXPECT_EQ(askResume(choices, {401, 1604}), ResumeAnswer::FromStart);
    EXPECT_EQ(askResume(choices, {401, 1604}), ResumeAnswer::Dismissed);
    ASSERT_EQ(choices.asked.size(), 3u);
    EXPECT_EQ(choices.asked[0].options, QStringList({"从第 401 批继续（第 1604 行）", "从头执行"}));
    // The batch in flight is named: it may have been partly applied.
    EXPECT_TRUE(choices.asked[0].text.contains("第 401 批"));
}

TEST(PreflightTexts, TheCodePageIsOneOfTheOfferedAndDismissingRunsNothing) {
    const ScriptFacts facts = scan(quill::test::encodeAs("SELECT N'臺北'\n", "BIG5"));
    ASSERT_TRUE(facts.needsCodePage);
    quill::test::ScriptedChoices choices;
    const int big5Index = int(offeredCodePages().indexOf(950));
    ASSERT_GE(big5Index, 0);
    choices.setNextAnswer(big5Index);
    choices.setNextAnswer(-1);
    EXPECT_EQ(askCodePage(choices, "/x/台北.sql", facts), 950);
    EXPECT_EQ(askCodePage(choices, "/x/台北.sql", facts), std::nullopt);
    EXPECT_TRUE(choices.asked[0].text.contains("台北.sql"));
    EXPECT_TRUE(choices.asked[0].options.contains(codePageLabel(936)));
}

TEST(PreflightTexts, TheReportIsAFewLinesThatNameWhatWillGoWrong) {
    const std::string script = quill::test::encodeAs(
        "CREATE DATABASE [商城] ON (NAME = N'商城', FILENAME = N'C:\\DATA\\商城.mdf')\r\n"
        " LOG ON (NAME = N'商城_log', FILENAME = N'C:\\DATA\\商城_log.ldf')\r\nGO\r\n"
        ":connect other\r\nINSERT [订单] VALUES (N'$(x)')\r\nGO\r\n",
        "GBK");
    const ScriptFacts facts = scan(script);
    const QString report = preflightReport(facts, ScriptClient::QuillSqlcmd);
    EXPECT_LE(report.count("\r\n"), 8) << report.toStdString();
    for (const char* part : {"936", "C:\\DATA\\商城.mdf（第 1 行）",
                             "C:\\DATA\\商城_log.ldf（第 2 行）", ":connect", "不会执行"})
        EXPECT_TRUE(report.contains(QString::fromUtf8(part))) << part << "\n"
                                                              << report.toStdString();
    // Microsoft's sqlcmd runs :connect, but replaces $(x).
    const QString microsoft = preflightReport(facts, ScriptClient::MicrosoftSqlcmd);
    EXPECT_FALSE(microsoft.contains("不会执行"));
    EXPECT_TRUE(microsoft.contains("$(…)"));

    const QString broken =
        preflightReport(scan("SELECT 1\nSELECT N'\xE4\xB8"), ScriptClient::QuillSqlcmd);
    EXPECT_TRUE(broken.contains("第 2 行（字节 18）")) << broken.toStdString();
    EXPECT_TRUE(broken.contains("不会执行"));
}

}  // namespace
