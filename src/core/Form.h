#pragma once

#include <QString>
#include <QStringList>

namespace quill {

// The named controls of the main window. The names are the window's own
// (object names and member names), so flows and tests speak of them alike.
// moc cannot read identifiers that start with a CJK character, and it reads
// this header wherever a Q_OBJECT class includes it: the list is kept from it.
enum class Control : int
#ifndef Q_MOC_RUN
{
    分组框1,
    透明标签1,
    编辑框1,   // server
    透明标签4,
    组合框1,   // authentication mode: 0 Windows, 1 SQL Server
    透明标签2,
    编辑框2,   // login
    透明标签3,
    编辑框3,   // password
    按钮1,     // connect
    按钮2,     // disconnect
    超级列表框1,  // database list
    按钮5,     // help
    按钮3,     // load databases
    图片框1,
    编辑框5,   // script path, drop zone
    编辑框4,   // log box
    按钮4,     // run the script
    状态条1,
}
#endif
;

// What the flows may do to the main window. The window implements it; tests
// use a fake. Every call belongs on the GUI thread: work on other threads
// hands its updates over with postToGui (GuiThread.h).
class Form {
public:
    virtual ~Form() = default;

    // Edit boxes (编辑框1..5) and button captions. The log box 编辑框4 gives
    // its text as shown, line breaks as "\n"; of a log over 16 MB, only its
    // last lines within that.
    virtual QString text(Control c) const = 0;
    virtual void setText(Control c, const QString& text) = 0;

    // Selected index of 组合框1.
    virtual int authIndex() const = 0;

    virtual bool isEnabled(Control c) const = 0;
    virtual void setEnabled(Control c, bool enabled) = 0;

    // Status bar 状态条1: part 0 connection and list, part 1 everything else.
    virtual QString status(int part) const = 0;
    virtual void setStatus(int part, const QString& text) = 0;
    // The reason behind a failure that a part reports, such as the driver's
    // message (empty: none). The window tells it to the user, and keeps it
    // with the part.
    virtual void setStatusToolTip(int part, const QString& tip) = 0;

    // Database list 超级列表框1 (column 0 "序号", column 1 "数据库名称").
    virtual void clearList() = 0;
    virtual int appendListRow(const QString& column0) = 0;  // returns the new row's index
    virtual void setListCell(int row, int column, const QString& text) = 0;
    virtual QString listCell(int row, int column) const = 0;  // empty when out of range
    virtual int listRowCount() const = 0;
    virtual int selectedListRow() const = 0;  // -1 when none
    // Replaces every row: row k holds k + 1 in column 0 and names[k] in
    // column 1. A window may do it in one go rather than row by row.
    virtual void setListRows(const QStringList& names) {
        clearList();
        for (qsizetype i = 0; i < names.size(); ++i)
            setListCell(appendListRow(QString::number(i + 1)), 1, names[i]);
    }

    // Log box 编辑框4: appends at the end. The box follows the end unless the
    // user has scrolled up.
    virtual void appendLog(const QString& text) = 0;
};

}  // namespace quill
