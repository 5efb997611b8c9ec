#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace quill::stats {

struct TableRowCount {
    QString name;
    std::int64_t rows = 0;
};

// The report header: "[Table Name]", 20 blanks, "[Number]", CR LF.
extern const char kReportHeader[];

// Names are filled with blanks to this many display columns.
constexpr int kNameColumns = 30;

// One report line: the name filled to kNameColumns (a longer name stays
// whole and pushes the count right), two blanks, the count in decimal,
// CR LF.
QString reportLine(const TableRowCount& table);

// The whole report, UTF-8 without a byte-order mark: the header, then one
// line per table in the given order.
QByteArray reportText(const std::vector<TableRowCount>& tables);

}  // namespace quill::stats
