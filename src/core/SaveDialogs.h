#pragma once

#include <QString>

namespace quill {

// Asks the user where to save a file ("save as"). Behind an interface so
// tests can answer it.
class SaveDialogs {
public:
    virtual ~SaveDialogs() = default;
    // The chosen path, or an empty one when the user cancelled.
    virtual QString askSavePath(const QString& caption, const QString& suggestedPath) = 0;
};

}  // namespace quill
