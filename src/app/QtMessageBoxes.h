#pragma once

#include "core/MessageBoxes.h"

namespace quill {

// Message boxes as QMessageBox: no owner window, application-modal, buttons
// and icon from the flags, the pressed button as an Answer number.
class QtMessageBoxes : public MessageBoxes {
public:
    int show(const QString& text, const QString& caption, unsigned flags) override;
};

// The flags a box is really shown with: TaskModal is added unless
// SystemModal is asked for.
unsigned effectiveBoxFlags(unsigned flags);

}  // namespace quill
