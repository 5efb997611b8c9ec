#pragma once

#include "core/SaveDialogs.h"

namespace quill {

// "Save as" through Qt's file dialog, application-modal.
class QtSaveDialogs : public SaveDialogs {
public:
    QString askSavePath(const QString& caption, const QString& suggestedPath) override;
};

}  // namespace quill
