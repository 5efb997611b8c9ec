#include <gtest/gtest.h>

#include "Encode.h"
#include "preflight/PreflightTexts.h"

using namespace quill::preflight;

namespace {

ScriptFacts scan(const std::string& bytes) {
    MemorySource source(bytes);
    return scanScript(source);
}

TEST(PreflightTexts, TheResumeOfferReadsAsSpecified) {
    const QStringList options = resumeOptions({401, 1604});
    EXPECT_EQ(options.value(kResumeContinue), "从第 401 批继续（第 1604 行）");
    EXPECT_EQ(options.value(kResumeFromStart), "从头执行");
    // The batch in flight is named: it may have been partly applied.
    EXPECT_TRUE(resumeQuestion({401, 1604}).contains("第 401 批"));
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
