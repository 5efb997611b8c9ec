#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "preflight/ClientCommand.h"

using namespace quill::preflight;

namespace {

void makeProgram(const QString& path, bool executable) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n");
    f.setPermissions(executable ? QFile::ReadOwner | QFile::ExeOwner : QFile::ReadOwner);
}

TEST(ClientCommand, FindsTheClientAsTheInterpreterWould) {
    QTemporaryDir root;
    const QDir dir(root.path());
    for (const char* sub : {"ms", "plain", "folder/sqlcmd", "cwd"})
        dir.mkpath(sub);
    makeProgram(dir.filePath("ms/sqlcmd"), true);
    makeProgram(dir.filePath("plain/sqlcmd"), false);
    makeProgram(dir.filePath("cwd/sqlcmd"), true);
    const QByteArray ms = dir.filePath("ms").toUtf8(), plain = dir.filePath("plain").toUtf8(),
                     folder = dir.filePath("folder").toUtf8();
    const QString cwd = dir.filePath("cwd"), elsewhere = dir.filePath("plain");
    struct Case {
        const char* name;
        QByteArray path;
        QString interpreterFolder;
        ScriptClient client;
    } cases[] = {
        {"Microsoft's on the PATH", plain + ":" + ms, elsewhere, ScriptClient::MicrosoftSqlcmd},
        {"not executable, a folder", plain + ":" + folder, elsewhere, ScriptClient::QuillSqlcmd},
        {"an empty entry is the working folder", plain + "::" + folder, cwd,
         ScriptClient::MicrosoftSqlcmd},
        {"a relative entry too", "cwd", root.path(), ScriptClient::MicrosoftSqlcmd},
        {"none", plain, cwd, ScriptClient::QuillSqlcmd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(scriptClient(c.path, c.interpreterFolder), c.client);
    }
}

TEST(ClientCommand, AddsTheCodePageAndTheStartTheClientUnderstands) {
    const QString line = "sqlcmd -i \"/a b.sql\"";
    struct Case {
        ScriptClient client;
        int codePage;
        qint64 start;
        QString expected;
    } cases[] = {
        {ScriptClient::QuillSqlcmd, 0, 1, line},
        {ScriptClient::QuillSqlcmd, 936, 1, line + " -f i:936"},
        {ScriptClient::QuillSqlcmd, 65001, 401, line + " -f i:65001 --start-batch 401"},
        {ScriptClient::MicrosoftSqlcmd, 54936, 1, line + " -f i:54936"},
        // Microsoft's runs the remainder script from its start instead.
        {ScriptClient::MicrosoftSqlcmd, 0, 401, line},
    };
    for (const Case& c : cases)
        EXPECT_EQ(withScriptOptions(line, c.client, c.codePage, c.start), c.expected);
}

}  // namespace
