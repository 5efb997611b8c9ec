#include "app/PartStatusBar.h"

#include <QMouseEvent>

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
        label->installEventFilter(this);
        parts_[i].label = label;
    }
}

QLabel* PartStatusBar::part(int index) const {
    return index >= 0 && index < int(parts_.size()) ? parts_[index].label : nullptr;
}

QString PartStatusBar::partText(int index) const {
    return part(index) ? parts_[index].text : QString();
}

void PartStatusBar::setPartText(int index, const QString& text) {
    if (!part(index))
        return;
    parts_[index].text = text;
    // A reason explains the text it came with, not the next one; so does a link.
    parts_[index].detail.clear();
    parts_[index].linkHint.clear();
    present(index);
}

QString PartStatusBar::partDetail(int index) const {
    return part(index) ? parts_[index].detail : QString();
}

void PartStatusBar::setPartDetail(int index, const QString& detail) {
    if (!part(index))
        return;
    parts_[index].detail = detail;
    present(index);
}

void PartStatusBar::setPartLink(int index, const QString& hint) {
    if (!part(index))
        return;
    parts_[index].linkHint = hint;
    present(index);
}

bool PartStatusBar::isLink(int index) const {
    return part(index) && !parts_[index].linkHint.isEmpty();
}

bool PartStatusBar::hasMore(int index) const {
    return part(index) && (parts_[index].cut || !parts_[index].detail.isEmpty());
}

void PartStatusBar::present(int index) {
    Part& p = parts_[index];
    // Only what lies inside the bar can be read; the second part runs past it.
    const int visible = std::min(p.label->width(), width() - p.label->x());
    const QMargins m = p.label->contentsMargins();
    const int room = visible - m.left() - m.right() - p.label->indent();
    // The text is a single line on screen; its line breaks, if any, show in full elsewhere.
    const QString line = QString(p.text).replace('\r', "").replace('\n', ' ');
    const QString shown = p.label->fontMetrics().elidedText(line, Qt::ElideRight, room);
    p.cut = shown != line;
    p.label->setText(shown);

    QString full = p.text;
    if (!p.detail.isEmpty() && !p.text.contains(p.detail))
        full += (full.isEmpty() ? "" : "\n") + p.detail;
    const bool link = !p.linkHint.isEmpty();
    if (link)
        full += (full.isEmpty() ? "" : "\n") + p.linkHint;
    p.label->setToolTip(hasMore(index) || link ? full : QString());
    // A link is underlined; it keeps the bar's own colour, which a skin
    // has made readable on its background.
    QFont font = p.label->font();
    font.setUnderline(link);
    p.label->setFont(font);
    p.label->setAccessibleName(p.text);
    p.label->setAccessibleDescription(p.detail);
}

void PartStatusBar::resizeEvent(QResizeEvent* event) {
    QStatusBar::resizeEvent(event);
    for (int i = 0; i < int(parts_.size()); ++i)
        present(i);
}

bool PartStatusBar::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        for (int i = 0; i < int(parts_.size()); ++i) {
            if (watched != parts_[i].label)
                continue;
            if (isLink(i))
                emit linkActivated(i);
            else if (hasMore(i))
                emit moreRequested(i);
        }
    }
    return QStatusBar::eventFilter(watched, event);
}

}  // namespace quill
