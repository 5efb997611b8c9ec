#include "app/RunProgressBar.h"

#include <QPainter>
#include <cmath>

namespace quill {

RunProgressBar::RunProgressBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName("执行进度");
}

void RunProgressBar::setShare(std::optional<double> share) {
    if (share)
        share = std::clamp(*share, 0.0, 1.0);
    if (share == share_)
        return;
    // Repaint only when a pixel changes: the run tells its share often.
    const auto pixels = [this](std::optional<double> s) {
        return s ? int(std::lround(*s * width())) : -1;
    };
    const bool visible = pixels(share) != pixels(share_);
    share_ = share;
    setAccessibleDescription(share ? QString("%1%").arg(int(*share * 100)) : QString());
    if (visible)
        update();
}

void RunProgressBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Midlight));
    if (share_) {
        QRect done = rect();
        done.setWidth(int(std::lround(*share_ * width())));
        painter.fillRect(done, palette().color(QPalette::Active, QPalette::Highlight));
    }
}

}  // namespace quill
