#include <gtest/gtest.h>

#include "preflight/DatabaseFiles.h"

using namespace quill::preflight;

namespace {

struct Expected {
    std::string database;
    std::string path;
    long line;
};

TEST(DatabaseFiles, FindsPathsOnlyWhereTheServerReadsThem) {
    struct Case {
        const char* name;
        std::string sql;
        std::vector<Expected> files;
    } cases[] = {
        {"create, data and log",
         "CREATE DATABASE [Shop] ON PRIMARY\n( NAME = N'Shop', FILENAME = N'C:\\D\\Shop.mdf' )\n"
         "LOG ON ( NAME = N'Shop_log', FILENAME = N'C:\\D\\Shop_log.ldf' )",
         {{"Shop", "C:\\D\\Shop.mdf", 2}, {"Shop", "C:\\D\\Shop_log.ldf", 3}}},
        {"lower case, no N, quoted name, blanks",
         "create database \"a b\" on (name=x,filename\n=\n'/var/opt/mssql/data/x.mdf')",
         {{"a b", "/var/opt/mssql/data/x.mdf", 3}}},
        {"alter database add file",
         "ALTER DATABASE db ADD FILE (NAME = f2, FILENAME = 'D:\\f2.ndf')",
         {{"db", "D:\\f2.ndf", 1}}},
        {"doubled quotes and brackets",
         "CREATE DATABASE [a]]b] ON (FILENAME = N'C:\\it''s.mdf')",
         {{"a]b", "C:\\it's.mdf", 1}}},
        {"in comments",
         "/* CREATE DATABASE x ON (FILENAME = 'c:\\x.mdf') /* nested */ */\n"
         "-- CREATE DATABASE y ON (FILENAME = 'c:\\y.mdf')\nSELECT 1",
         {}},
        {"in a string", "INSERT t VALUES (N'CREATE DATABASE z ON (FILENAME = ''c:\\z.mdf'')')", {}},
        {"outside a database statement",
         "CREATE DATABASE a\nGO_NOT\nCREATE TABLE t (FILENAME int)\nUPDATE t SET FILENAME = 'x'",
         {}},
        {"a variable, not a literal", "CREATE DATABASE a ON (FILENAME = @path)", {}},
        {"unclosed literal at the end",
         "CREATE DATABASE a ON (FILENAME = 'c:\\x",
         {{"a", "c:\\x", 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<DatabaseFile> found = findDatabaseFiles(c.sql);
        ASSERT_EQ(found.size(), c.files.size());
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].database, c.files[i].database);
            EXPECT_EQ(found[i].path, c.files[i].path);
            EXPECT_EQ(found[i].line, c.files[i].line);
        }
        // The quick test never turns away a batch that has paths.
        if (!found.empty()) {
            EXPECT_TRUE(mayNameDatabaseFiles(c.sql));
        }
    }
    EXPECT_FALSE(mayNameDatabaseFiles("INSERT t VALUES (N'a=b', 'profilename = 1')"));
}

}  // namespace
