#pragma once

#include "core/Choices.h"

namespace quill {

// Questions as application-modal dialogs without an owner window: up to
// three options as buttons (and 取消), more as a list with 确定 and 取消.
class QtChoices : public Choices {
public:
    int choose(const QString& caption, const QString& text, const QStringList& options) override;
};

}  // namespace quill
