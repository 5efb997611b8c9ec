#pragma once

#include <QWidget>
#include <optional>

namespace quill {

// A slim bar that shows the share of a script run done: a track, filled
// from the left. It fits a gap a few pixels high, so it moves no control.
class RunProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit RunProgressBar(QWidget* parent = nullptr);

    // 0..1; nothing: not known (the track only).
    void setShare(std::optional<double> share);
    std::optional<double> share() const { return share_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<double> share_;
};

}  // namespace quill
