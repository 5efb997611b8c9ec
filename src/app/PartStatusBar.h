#pragma once

#include <QLabel>
#include <QStatusBar>
#include <array>

namespace quill {

// A status bar of two parts at fixed pixel spans, 0..235 and 235..605; the
// second may run past the window's right edge. No size grip. The parts are
// placed by hand: QStatusBar's own layout would pad and squeeze them.
class PartStatusBar : public QStatusBar {
    Q_OBJECT
public:
    static constexpr std::array<int, 3> kEdges{0, 235, 605};
    static constexpr int kHeight = 20;

    explicit PartStatusBar(QWidget* parent = nullptr);

    QString partText(int part) const;
    void setPartText(int part, const QString& text);
    QString partToolTip(int part) const;
    void setPartToolTip(int part, const QString& tip);
    // The label showing a part, or nullptr for an index out of range.
    QLabel* part(int index) const;

private:
    std::array<QLabel*, 2> parts_{};
};

}  // namespace quill
