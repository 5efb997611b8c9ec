#include "app/QtSaveDialogs.h"

#include <QFileDialog>

namespace quill {

QString QtSaveDialogs::askSavePath(const QString& caption, const QString& suggestedPath) {
    return QFileDialog::getSaveFileName(nullptr, caption, suggestedPath);
}

}  // namespace quill
