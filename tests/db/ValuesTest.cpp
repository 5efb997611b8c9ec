#include <gtest/gtest.h>
#include <sqlext.h>

#include <cmath>

#include "db/ColumnValues.h"
#include "db/DatabaseFlows.h"
#include "db/FieldValue.h"

using namespace quill;
using namespace quill::db;

TEST(Values, BoundTextConvertsByColumnType) {
    struct Case {
        int type;
        QByteArray text;
        FieldValue expected;
    };
    const Case cases[] = {
        {SQL_INTEGER, "42", FieldValue::int32(42)},
        {SQL_INTEGER, "-7abc", FieldValue::int32(-7)},
        {SQL_INTEGER, "", FieldValue::int32(0)},
        {SQL_SMALLINT, " 12", FieldValue::int16(12)},
        {SQL_TINYINT, "255", FieldValue::byte(255)},
        {SQL_REAL, "1.5", FieldValue::real(1.5f)},
        {SQL_FLOAT, "2.25e1", FieldValue::dbl(22.5)},
        {SQL_DOUBLE, "", FieldValue::dbl(0)},
        {SQL_BIT, "1", FieldValue::logical(true)},
        {SQL_BIT, "0", FieldValue::logical(false)},
        {SQL_VARBINARY, "0A0B", FieldValue::binary({})},
        {SQL_WVARCHAR, "名字", FieldValue::text("名字")},
        {SQL_TYPE_TIMESTAMP, "2010-04-02 15:48:27.000",
         FieldValue::text("2010-04-02 15:48:27.000")},
        {SQL_DECIMAL, "-12.50", FieldValue::text("-12.50")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fromBoundText(c.type, c.text), c.expected) << c.type << " " << c.text.data();
}

TEST(Values, DatesCountDaysFrom1899December30) {
    EXPECT_DOUBLE_EQ(oleDays(1899, 12, 30, 0, 0, 0, 0), 0);
    EXPECT_DOUBLE_EQ(oleDays(1900, 1, 1, 0, 0, 0, 0), 2);
    EXPECT_DOUBLE_EQ(oleDays(1899, 12, 29, 6, 0, 0, 0), -1.25);
    EXPECT_NEAR(oleDays(2010, 4, 2, 15, 48, 27, 500000000),
                40270 + (15 * 3600 + 48 * 60 + 27.5) / 86400.0, 1e-9);
    EXPECT_DOUBLE_EQ(oleDays(9999, 12, 31, 0, 0, 0, 0), 2958465);
    EXPECT_DOUBLE_EQ(oleDays(1, 1, 1, 0, 0, 0, 0), -657434);  // clamped to year 100
}

TEST(Values, TextBuffersHoldUtf8AndSigns) {
    EXPECT_EQ(textBufferSize(SQL_WVARCHAR, 128), 385);  // sysname: 128 Chinese characters fit
    EXPECT_EQ(textBufferSize(SQL_VARCHAR, 10), 31);
    EXPECT_EQ(textBufferSize(SQL_DECIMAL, 18), 21);
    EXPECT_EQ(textBufferSize(SQL_BIGINT, 19), 21);  // "-9223372036854775808"
    EXPECT_EQ(textBufferSize(SQL_LONGVARCHAR, 2147483647), 1);
    EXPECT_EQ(textBufferSize(SQL_TYPE_TIMESTAMP, 23), 24);
    EXPECT_TRUE(isBoundColumn(SQL_WVARCHAR, 385));
    EXPECT_FALSE(isBoundColumn(SQL_WVARCHAR, 513));
    EXPECT_FALSE(isBoundColumn(SQL_VARBINARY, 10));
    EXPECT_FALSE(isBoundColumn(SQL_LONGVARCHAR, 1));
    // A length the driver does not know is no length to cut at.
    EXPECT_TRUE(readsWhole(SQL_WVARCHAR, 0));
    EXPECT_FALSE(readsWhole(SQL_WVARCHAR, 128));
    EXPECT_TRUE(readsWhole(SQL_WLONGVARCHAR, 1073741823));
}

TEST(Values, Utf8CutsKeepWholeCharacters) {
    const QByteArray text = "ab数据";  // 2 + 3 + 3 bytes
    EXPECT_EQ(utf8Prefix(text, 4), "ab");
    EXPECT_EQ(utf8Prefix(text, 5), "ab数");
    EXPECT_EQ(utf8Prefix(text, 100), text);
    EXPECT_EQ(utf8Prefix(text, 0), "");
    EXPECT_EQ(withoutBrokenTail(text.left(7)), "ab数");
    EXPECT_EQ(withoutBrokenTail(text.left(5)), "ab数");
    EXPECT_EQ(withoutBrokenTail(text.left(3)), "ab");
}

TEST(Values, Int32FromIntegersAndFloatsOnly) {
    EXPECT_EQ(FieldValue::int32(7).toInt32(), 7);
    EXPECT_EQ(FieldValue::int16(-3).toInt32(), -3);
    EXPECT_EQ(FieldValue::byte(200).toInt32(), 200);
    EXPECT_EQ(FieldValue::dbl(-2.9).toInt32(), -2);
    EXPECT_EQ(FieldValue::real(3.7f).toInt32(), 3);
    EXPECT_EQ(FieldValue::dbl(1e12).toInt32(), std::nullopt);
    EXPECT_EQ(FieldValue::dbl(std::nan("")).toInt32(), std::nullopt);
    EXPECT_EQ(FieldValue().toInt32(), std::nullopt);  // no value
    EXPECT_EQ(FieldValue::text("12").toInt32(), std::nullopt);
    EXPECT_EQ(FieldValue::logical(true).toInt32(), std::nullopt);
}

TEST(Values, ToInt64TakesBigintTextToo) {
    EXPECT_EQ(FieldValue::text("4000000000").toInt64(), 4000000000LL);
    EXPECT_EQ(FieldValue::text("-9223372036854775808").toInt64(), INT64_MIN);
    EXPECT_EQ(FieldValue::int32(-5).toInt64(), -5);
    EXPECT_EQ(FieldValue::dbl(5e9).toInt64(), 5000000000LL);
    for (const FieldValue& v : {FieldValue::text("12 "), FieldValue::text("1.5"), FieldValue(),
                                FieldValue::text("9223372036854775808"), FieldValue::dbl(1e19),
                                FieldValue::logical(true)})
        EXPECT_EQ(v.toInt64(), std::nullopt) << v.toText().toStdString();
}

TEST(Values, VersionHeadlineKeepsTheFirstLine) {
    EXPECT_EQ(versionHeadline("Microsoft SQL Server 2008 R2 (RTM) - 10.50.1600.1 (X64) \n\tApr  2 "
                              "2010 15:48:27 \n\tCopyright"),
              "Microsoft SQL Server 2008 R2 (RTM) - 10.50.1600.1 (X64)");
    EXPECT_EQ(versionHeadline("no double blank here"), "");
    EXPECT_EQ(versionHeadline("abcde  x"), "");   // pair at byte 6: n = -1
    EXPECT_EQ(versionHeadline("abcdef  x"), "");  // pair at byte 7: n = 0
    EXPECT_EQ(versionHeadline("abcdefg  x"), "a");
    EXPECT_EQ(versionHeadline(""), "");
    // Babelfish's first line has no trailing blank, tab and month: whole.
    EXPECT_EQ(
        versionHeadline("Babelfish for PostgreSQL with SQL Server Compatibility - "
                        "12.0.2000.8\nDec  8 2026 12:29:54\nCopyright (c) Amazon Web Services"),
        "Babelfish for PostgreSQL with SQL Server Compatibility - 12.0.2000.8");
}

TEST(Values, DropStatementsAndServerMessages) {
    EXPECT_EQ(dropStatement("Shop"), "drop database [Shop]");
    EXPECT_EQ(dropStatement("a]b"), "drop database [a]]b]");
    EXPECT_EQ(
        serverMessage(
            "[FreeTDS][SQL Server]Cannot drop database \"x\" because it is currently in use."),
        "Cannot drop database \"x\" because it is currently in use.");
    EXPECT_EQ(serverMessage("plain"), "plain");
    EXPECT_EQ(serverMessage("[FreeTDS][SQL Server]Login failed for user 'sa'.\n[FreeTDS][SQL "
                            "Server]Unable to connect"),
              "Login failed for user 'sa'.\nUnable to connect");
    EXPECT_EQ(serverMessage("[unclosed"), "[unclosed");
}
