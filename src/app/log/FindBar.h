#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QToolButton;

namespace quill::logbox {

// The log box's find bar: a line for the text, previous and next, a short
// state ("查找中…", "找不到") and a close button. Enter finds the next match,
// Shift+Enter the previous one, Escape closes; typing finds as you type.
class FindBar : public QWidget {
    Q_OBJECT
public:
    explicit FindBar(QWidget* parent = nullptr);

    QString text() const;
    void setState(const QString& state);
    QString state() const;
    // Shows the bar with its text selected, ready for typing.
    void open();

    QLineEdit* edit() const { return edit_; }

signals:
    // fromMatchStart: typing changed the text, so the match under way may stay.
    void findRequested(const QString& text, bool backward, bool fromMatchStart);
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* edit_;
    QToolButton* previous_;
    QToolButton* next_;
    QLabel* state_;
    QToolButton* close_;
};

}  // namespace quill::logbox
