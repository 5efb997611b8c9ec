#include <gtest/gtest.h>

#include "stats/TableReport.h"

using namespace quill::stats;

TEST(TableReport, HeaderIsFortyTwoBytes) {
    const QByteArray header(kReportHeader);
    EXPECT_EQ(header.size(), 42);
    EXPECT_EQ(header, "[Table Name]" + QByteArray(20, ' ') + "[Number]\r\n");
    EXPECT_EQ(reportText({}), header);
}

TEST(TableReport, NamesAreFilledToThirtyColumnsAndNeverCut) {
    struct Case {
        QString name;
        std::int32_t rows;
        QString line;
    };
    const QString n29(29, 'a'), n30(30, 'b'), n31(31, 'c');
    const QString chinese10 = "一二三四五六七八九十";
    const Case cases[] = {
        {n29, 7, n29 + " " + "  7\r\n"},
        {n30, 7, n30 + "  7\r\n"},
        {n31, 7, n31 + "  7\r\n"},
        {chinese10, 120, chinese10 + QString(10, ' ') + "  120\r\n"},
        {"表" + QString(27, 'x'), 1, "表" + QString(27, 'x') + " " + "  1\r\n"},  // 29 columns
        {QString(15, u'表'), 1, QString(15, u'表') + "  1\r\n"},                  // exactly 30
        {"", 0, QString(30, ' ') + "  0\r\n"},
        {"Neg", -5, "Neg" + QString(27, ' ') + "  -5\r\n"},
        {"Big", 2147483647, "Big" + QString(27, ' ') + "  2147483647\r\n"},
        {"x", 1234567, "x" + QString(29, ' ') + "  1234567\r\n"},  // no digit grouping
    };
    for (const Case& c : cases)
        EXPECT_EQ(reportLine({c.name, c.rows}), c.line) << c.name.toStdString();
}

TEST(TableReport, WholeReportIsUtf8LinesInTheGivenOrder) {
    const std::vector<TableRowCount> tables = {{"Orders", 120}, {"订单", 80}, {"Zeta", 80}};
    const QByteArray expected = QByteArray(kReportHeader) + "Orders" + QByteArray(24, ' ') +
                                "  120\r\n" + "\xE8\xAE\xA2\xE5\x8D\x95" + QByteArray(26, ' ') +
                                "  80\r\n" + "Zeta" + QByteArray(26, ' ') + "  80\r\n";
    const QByteArray report = reportText(tables);
    EXPECT_EQ(report, expected);
    EXPECT_FALSE(report.startsWith("\xEF\xBB\xBF"));
    EXPECT_FALSE(report.contains('\0'));
}
