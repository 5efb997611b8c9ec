#include "app/QtMessageBoxes.h"

#include <QMessageBox>
#include <utility>
#include <vector>

namespace quill {

namespace {

using Button = QMessageBox::StandardButton;

std::vector<Button> buttonsFor(unsigned flags) {
    switch (flags & mb::ButtonMask) {
        case mb::OkCancel:
            return {QMessageBox::Ok, QMessageBox::Cancel};
        case mb::AbortRetryIgnore:
            return {QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore};
        case mb::YesNoCancel:
            return {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
        case mb::YesNo:
            return {QMessageBox::Yes, QMessageBox::No};
        case mb::RetryCancel:
            return {QMessageBox::Retry, QMessageBox::Cancel};
        default:
            return {QMessageBox::Ok};
    }
}

QMessageBox::Icon iconFor(unsigned flags) {
    switch (flags & mb::IconMask) {
        case mb::IconError:
            return QMessageBox::Critical;
        case mb::IconQuestion:
            return QMessageBox::Question;
        case mb::IconExclamation:
            return QMessageBox::Warning;
        case mb::IconInformation:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

int answerFor(int button) {
    static const std::pair<Button, int> answers[] = {
        {QMessageBox::Ok, IdOk},         {QMessageBox::Cancel, IdCancel},
        {QMessageBox::Abort, IdAbort},   {QMessageBox::Retry, IdRetry},
        {QMessageBox::Ignore, IdIgnore}, {QMessageBox::Yes, IdYes},
        {QMessageBox::No, IdNo},
    };
    for (const auto& [b, answer] : answers)
        if (b == button)
            return answer;
    return IdCancel;
}

}  // namespace

unsigned effectiveBoxFlags(unsigned flags) {
    return (flags & mb::SystemModal) ? flags : flags | mb::TaskModal;
}

int QtMessageBoxes::show(const QString& text, const QString& caption, unsigned flags) {
    flags = effectiveBoxFlags(flags);
    QMessageBox box;
    box.setWindowTitle(caption);
    // Texts may carry names from the server: never let them pass as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString(text).replace("\r\n", "\n"));
    box.setIcon(iconFor(flags));
    box.setWindowModality(Qt::ApplicationModal);
    if (flags & mb::SystemModal)
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    const std::vector<Button> buttons = buttonsFor(flags);
    for (Button b : buttons)
        box.addButton(b);
    box.setDefaultButton(buttons.front());
    return answerFor(box.exec());
}

}  // namespace quill
