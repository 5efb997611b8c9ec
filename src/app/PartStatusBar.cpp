#include "app/PartStatusBar.h"

namespace quill {

PartStatusBar::PartStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(false);
    setFixedHeight(kHeight);
    for (int i = 0; i < 2; ++i) {
        auto* label = new QLabel(this);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setIndent(3);
        label->setTextFormat(Qt::PlainText);
        label->setGeometry(kEdges[i], 0, kEdges[i + 1] - kEdges[i], kHeight);
        parts_[i] = label;
    }
}

QLabel* PartStatusBar::part(int index) const {
    return index >= 0 && index < int(parts_.size()) ? parts_[index] : nullptr;
}

QString PartStatusBar::partText(int index) const {
    QLabel* label = part(index);
    return label ? label->text() : QString();
}

void PartStatusBar::setPartText(int index, const QString& text) {
    if (QLabel* label = part(index))
        label->setText(text);
}

QString PartStatusBar::partToolTip(int index) const {
    QLabel* label = part(index);
    return label ? label->toolTip() : QString();
}

void PartStatusBar::setPartToolTip(int index, const QString& tip) {
    if (QLabel* label = part(index))
        label->setToolTip(tip);
}

}  // namespace quill
