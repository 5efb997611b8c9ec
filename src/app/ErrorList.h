#pragma once

#include <QAbstractTableModel>
#include <QCache>
#include <QDialog>
#include <QTimer>

#include "exec/MessageParser.h"

class QLabel;
class QPushButton;
class QTableView;

namespace quill {

namespace logbox {
class LogDocument;
}

// The errors of the latest run, one row each, read from the log box: the
// run marks the line of each error there, and a row reads its header and
// message back from those lines when it is shown. So the list costs the
// marks alone (a number per error), however many millions there are.
class ErrorListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Ordinal, Number, Level, Line, Message, ColumnCount };

    explicit ErrorListModel(const logbox::LogDocument& document, QObject* parent = nullptr);

    // The run whose output starts at or after line `from` of the log; -1: none.
    void showRun(qint64 from);
    // Whether the client names lines of the script file (quill-sqlcmd), or
    // lines within the batch.
    void setFileLines(bool fileLines);
    // The line of the log that row's error stands on.
    qint64 logLine(int row) const;
    // What row's lines hold; a header of a server error or a client's error.
    exec::ScriptMessage message(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void follow();

    const logbox::LogDocument& document_;
    qint64 from_ = -1;
    qsizetype first_ = 0;  // index in the document's marks of the run's first error
    int rows_ = 0;
    bool fileLines_ = true;
    QTimer follow_;  // a flood of errors updates the list a few times a second
    mutable QCache<int, exec::ScriptMessage> cache_{2000};
};

// The error list: a window beside the main one. Activating a row (double
// click, Enter) goes to that error in the log box.
class ErrorListDialog : public QDialog {
    Q_OBJECT
public:
    ErrorListDialog(ErrorListModel& model, QWidget* parent);

    QTableView* table() const { return table_; }
    // Below the list: what became of the failed batches.
    void setFailedBatches(const QString& text, const QString& folder);
    QString failedBatchesText() const;

signals:
    void goToLine(qint64 logLine);
    void openFolder(const QString& folder);

private:
    void showCount();

    ErrorListModel& model_;
    QTableView* table_;
    QLabel* count_;
    QLabel* failed_;
    QPushButton* openFolder_;
    QString folder_;
};

}  // namespace quill
