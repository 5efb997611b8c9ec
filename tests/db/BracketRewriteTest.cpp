#include <gtest/gtest.h>

#include "db/BracketRewrite.h"

using quill::db::rewriteBrackets;

TEST(BracketRewrite, BracketsBecomeQuotedIdentifiersOutsideLiterals) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"drop database [Sales]", "drop database \"Sales\""},
        {"select * from [dbo].[T 1]", "select * from \"dbo\".\"T 1\""},
        {"select '[x]', [y]", "select '[x]', \"y\""},
        {"select 'it''s [x]' from [t]", "select 'it''s [x]' from \"t\""},
        {"select '' , [a]", "select '' , \"a\""},
        {"a [[b c]] d", "a [b c] d"},
        {"drop database [a]]b]", "drop database \"a]b\""},
        {"drop database [x\"y]", "drop database \"x\"\"y\""},
        {"drop database [it's]", "drop database \"it's\""},
        {"drop database [a[b]", "drop database \"a[b\""},
        {"drop database [数据]", "drop database \"数据\""},
        {"no brackets at all", "no brackets at all"},
        {"trailing ]", "trailing \""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rewriteBrackets(c.in, '"'), QByteArray(c.out)) << c.in;
}

TEST(BracketRewrite, ADriverWithoutQuoteCharacterGetsBlanks) {
    EXPECT_EQ(rewriteBrackets("drop database [a b]", ' '), "drop database  a b ");
}
