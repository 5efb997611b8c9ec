#include "app/ErrorList.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "app/log/LogDocument.h"

namespace quill {

ErrorListModel::ErrorListModel(const logbox::LogDocument& document, QObject* parent)
    : QAbstractTableModel(parent), document_(document) {
    follow_.setSingleShot(true);
    follow_.setInterval(200);
    connect(&follow_, &QTimer::timeout, this, &ErrorListModel::follow);
    connect(&document_, &logbox::LogDocument::marksChanged, this, [this] {
        if (!follow_.isActive())
            follow_.start();
    });
    connect(&document_, &logbox::LogDocument::cleared, this, [this] { showRun(-1); });
}

void ErrorListModel::showRun(qint64 from) {
    beginResetModel();
    from_ = from;
    const std::vector<qint64>& marks = document_.marks();
    first_ =
        std::lower_bound(marks.begin(), marks.end(), std::max<qint64>(from, 0)) - marks.begin();
    rows_ = from < 0 ? 0 : int(std::min<qsizetype>(qsizetype(marks.size()) - first_, INT_MAX));
    cache_.clear();
    endResetModel();
}

void ErrorListModel::setFileLines(bool fileLines) {
    if (fileLines == fileLines_)
        return;
    fileLines_ = fileLines;
    emit headerDataChanged(Qt::Horizontal, Line, Line);
}

void ErrorListModel::follow() {
    if (from_ < 0)
        return;
    const std::vector<qint64>& marks = document_.marks();
    const int rows = int(std::min<qsizetype>(qsizetype(marks.size()) - first_, INT_MAX));
    if (rows < rows_ || (rows_ > 0 && marks[std::size_t(first_)] < from_)) {
        showRun(from_);  // not an append: start over
    } else if (rows > rows_) {
        beginInsertRows({}, rows_, rows - 1);
        rows_ = rows;
        endInsertRows();
    }
}

qint64 ErrorListModel::logLine(int row) const {
    if (row < 0 || row >= rows_)
        return -1;
    return document_.marks()[std::size_t(first_ + row)];
}

exec::ScriptMessage ErrorListModel::message(int row) const {
    if (const exec::ScriptMessage* cached = cache_.object(row))
        return *cached;
    const qint64 line = logLine(row);
    exec::MessageParser parser;
    std::vector<exec::ScriptMessage> found;
    parser.feed(document_.line(line).toUtf8() + '\n' + document_.line(line + 1).toUtf8() + '\n',
                found);
    parser.finish(found);
    exec::ScriptMessage m =
        found.empty() ? exec::ScriptMessage(exec::ClientError{document_.line(line).trimmed()})
                      : found.front();
    cache_.insert(row, new exec::ScriptMessage(m));
    return m;
}

int ErrorListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int ErrorListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ErrorListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_)
        return {};
    if (role == Qt::TextAlignmentRole && index.column() != Message)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    if (index.column() == Ordinal)
        return role == Qt::DisplayRole ? QVariant(index.row() + 1) : QVariant();
    const exec::ScriptMessage m = message(index.row());
    const auto* server = std::get_if<exec::ServerError>(&m);
    switch (index.column()) {
        case Number:
            return server ? QVariant(server->number) : QVariant();
        case Level:
            return server ? QVariant(server->level) : QVariant();
        case Line:
            if (!server || server->line <= 0)
                return {};
            return server->procedure.isEmpty()
                       ? QVariant(server->line)
                       : QVariant(QString("%1 (%2)").arg(server->line).arg(server->procedure));
        case Message:
            return server ? server->message : std::get<exec::ClientError>(m).message;
    }
    return {};
}

QVariant ErrorListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    // Microsoft's sqlcmd names the line within the batch.
    static const char* const titles[] = {"序号", "消息号", "级别", "脚本行", "消息"};
    if (section == Line && !fileLines_)
        return QStringLiteral("批内行");
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(titles[section]) : QString();
}

ErrorListDialog::ErrorListDialog(ErrorListModel& model, QWidget* parent)
    : QDialog(parent), model_(model) {
    setObjectName("错误列表");
    setWindowTitle("错误列表");
    resize(640, 360);

    table_ = new QTableView(this);
    table_->setModel(&model);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    // Fixed row heights: a list of millions of rows lays out none of them ahead.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {60, 60, 40, 70};
    for (int column = 0; column < int(std::size(widths)); ++column)
        table_->setColumnWidth(column, widths[column]);
    table_->setAccessibleName("错误列表");

    count_ = new QLabel(this);
    failed_ = new QLabel(this);
    failed_->setWordWrap(true);
    failed_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    openFolder_ = new QPushButton("打开所在文件夹", this);
    openFolder_->setEnabled(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(openFolder_, QDialogButtonBox::ActionRole);
    buttons->button(QDialogButtonBox::Close)->setText("关闭");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(count_);
    layout->addWidget(table_, 1);
    layout->addWidget(failed_);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    connect(openFolder_, &QPushButton::clicked, this, [this] { emit openFolder(folder_); });
    connect(table_, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { emit goToLine(model_.logLine(index.row())); });
    connect(&model, &QAbstractItemModel::modelReset, this, &ErrorListDialog::showCount);
    connect(&model, &QAbstractItemModel::rowsInserted, this, &ErrorListDialog::showCount);
    showCount();
}

void ErrorListDialog::showCount() {
    const int rows = model_.rowCount();
    count_->setText(rows == 0 ? QStringLiteral("本次执行没有错误。")
                              : QStringLiteral("共 %1 个错误。双击一行可跳到日志中的位置。")
                                    .arg(QLocale(QLocale::English).toString(rows)));
}

void ErrorListDialog::setFailedBatches(const QString& text, const QString& folder) {
    failed_->setText(text);
    folder_ = folder;
    openFolder_->setEnabled(!folder.isEmpty());
}

QString ErrorListDialog::failedBatchesText() const {
    return failed_->text();
}

}  // namespace quill
