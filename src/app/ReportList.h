#pragma once

#include <QPoint>
#include <QTableWidget>
#include <QTimer>

namespace quill {

// A read-only list in report view: a clickable column header, whole-row single
// selection and grid lines. A row under the resting pointer becomes the
// selected row (hover tracking), and a cell whose text does not fit shows
// the whole text as its tool tip.
class ReportList : public QTableWidget {
    Q_OBJECT
public:
    struct Column {
        QString caption;
        int width;
    };
    ReportList(const QList<Column>& columns, QWidget* parent = nullptr);

    // How long the pointer must rest on a row before it is selected.
    static constexpr int kHoverMs = 400;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void selectRowUnderPointer();
    bool showTipIfCut(const QPoint& pos, const QPoint& globalPos);

    QTimer hover_;
    QPoint hoverPos_;
};

}  // namespace quill
