#include "app/ReportList.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QToolTip>

namespace quill {

ReportList::ReportList(const QList<Column>& columns, QWidget* parent)
    : QTableWidget(0, int(columns.size()), parent) {
    for (int i = 0; i < columns.size(); ++i) {
        auto* header = new QTableWidgetItem(columns[i].caption);
        header->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setHorizontalHeaderItem(i, header);
        setColumnWidth(i, columns[i].width);
    }
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    setShowGrid(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);

    setMouseTracking(true);
    hover_.setSingleShot(true);
    hover_.setInterval(kHoverMs);
    connect(&hover_, &QTimer::timeout, this, &ReportList::selectRowUnderPointer);
}

void ReportList::mouseMoveEvent(QMouseEvent* event) {
    QTableWidget::mouseMoveEvent(event);
    if (event->buttons() == Qt::NoButton) {
        hoverPos_ = event->position().toPoint();
        hover_.start();
    }
}

bool ReportList::viewportEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::Leave:
        case QEvent::MouseButtonPress:
            hover_.stop();
            break;
        case QEvent::ToolTip: {
            auto* help = static_cast<QHelpEvent*>(event);
            if (showTipIfCut(help->pos(), help->globalPos()))
                return true;
            break;
        }
        default:
            break;
    }
    return QTableWidget::viewportEvent(event);
}

void ReportList::selectRowUnderPointer() {
    const QModelIndex index = indexAt(hoverPos_);
    if (!index.isValid() || selectionModel()->isRowSelected(index.row(), QModelIndex()))
        return;
    selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

bool ReportList::showTipIfCut(const QPoint& pos, const QPoint& globalPos) {
    const QModelIndex index = indexAt(pos);
    if (!index.isValid())
        return false;
    const QString text = index.data().toString();
    const QRect cell = visualRect(index);
    // The cell draws its text inside a small margin on each side.
    const int margin = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
    if (fontMetrics().horizontalAdvance(text) + margin <= cell.width())
        return false;
    QToolTip::showText(globalPos, text, viewport(), cell);
    return true;
}

}  // namespace quill
