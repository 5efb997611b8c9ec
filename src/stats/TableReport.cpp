#include "stats/TableReport.h"

#include "stats/DisplayWidth.h"

namespace quill::stats {

const char kReportHeader[] = "[Table Name]                    [Number]\r\n";

QString reportLine(const TableRowCount& table) {
    // Wide characters take two columns on screen, as they took two bytes
    // in the code pages the layout was made for: the columns stay aligned.
    const int fill = kNameColumns - displayWidth(table.name);
    QString line = table.name;
    if (fill > 0)
        line += QString(fill, u' ');
    return line + "  " + QString::number(table.rows) + "\r\n";
}

QByteArray reportText(const std::vector<TableRowCount>& tables) {
    QString text = kReportHeader;
    for (const TableRowCount& t : tables)
        text += reportLine(t);
    return text.toUtf8();
}

}  // namespace quill::stats
