#include "app/log/FindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace quill::logbox {

namespace {

QToolButton* smallButton(const QString& text, const QString& tip, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setText(text);
    b->setToolTip(tip);
    b->setAccessibleName(tip);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setFixedSize(20, 20);
    return b;
}

}  // namespace

FindBar::FindBar(QWidget* parent) : QWidget(parent) {
    setObjectName("findBar");
    setAutoFillBackground(true);
    edit_ = new QLineEdit(this);
    edit_->setObjectName("findText");
    edit_->setPlaceholderText("查找");
    edit_->setAccessibleName("查找");
    // Reached with Ctrl+F, not with Tab: the window's tab stops stay its own.
    edit_->setFocusPolicy(Qt::ClickFocus);
    previous_ = smallButton("▲", "上一个 (Shift+Enter)", this);
    next_ = smallButton("▼", "下一个 (Enter)", this);
    state_ = new QLabel(this);
    state_->setObjectName("findState");
    state_->setTextFormat(Qt::PlainText);
    close_ = smallButton("✕", "关闭 (Esc)", this);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 1, 1, 1);
    row->setSpacing(1);
    row->addWidget(edit_, 1);
    row->addWidget(previous_);
    row->addWidget(next_);
    row->addWidget(state_);
    row->addWidget(close_);

    edit_->installEventFilter(this);
    connect(edit_, &QLineEdit::textEdited, this,
            [this](const QString& text) { emit findRequested(text, false, true); });
    connect(next_, &QToolButton::clicked, this,
            [this] { emit findRequested(text(), false, false); });
    connect(previous_, &QToolButton::clicked, this,
            [this] { emit findRequested(text(), true, false); });
    connect(close_, &QToolButton::clicked, this, [this] {
        hide();
        emit closed();
    });
}

QString FindBar::text() const {
    return edit_->text();
}

void FindBar::setState(const QString& state) {
    state_->setText(state);
}

QString FindBar::state() const {
    return state_->text();
}

void FindBar::open() {
    show();
    edit_->setFocus(Qt::ShortcutFocusReason);
    edit_->selectAll();
}

// The line edit would take Return whatever the modifiers, and pass Escape on.
bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            hide();
            emit closed();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            emit findRequested(text(), key->modifiers() & Qt::ShiftModifier, false);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace quill::logbox
