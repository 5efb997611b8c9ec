#pragma once

#include <QLabel>
#include <QStatusBar>
#include <array>

namespace quill {

// A status bar of two parts at fixed pixel spans, 0..235 and 235..605; the
// second may run past the window's right edge. No size grip. The parts are
// placed by hand: QStatusBar's own layout would pad and squeeze them.
//
// A part shows as much of its text as fits in the part's visible width and
// ends it with "…" when cut. A part may also carry a detail: the reason
// behind its text. Both reach the tooltip and screen readers in full, and a
// click on a part with more to tell than it shows emits moreRequested.
// A part can also be a link (until its text changes): it looks like one,
// and a click emits linkActivated instead.
class PartStatusBar : public QStatusBar {
    Q_OBJECT
public:
    static constexpr std::array<int, 3> kEdges{0, 235, 605};
    static constexpr int kHeight = 20;

    explicit PartStatusBar(QWidget* parent = nullptr);

    QString partText(int part) const;
    void setPartText(int part, const QString& text);
    QString partDetail(int part) const;
    void setPartDetail(int part, const QString& detail);
    // True when the part shows less than its text, or has a detail.
    bool hasMore(int part) const;
    // hint: what a click does, for the tooltip.
    void setPartLink(int part, const QString& hint);
    bool isLink(int part) const;
    // The label showing a part, or nullptr for an index out of range.
    QLabel* part(int index) const;

signals:
    void moreRequested(int part);
    void linkActivated(int part);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Part {
        QLabel* label = nullptr;
        QString text;
        QString detail;
        QString linkHint;  // empty: not a link
        bool cut = false;
    };
    void present(int index);

    std::array<Part, 2> parts_{};
};

}  // namespace quill
