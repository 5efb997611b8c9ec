#include "app/DesktopFileOpener.h"

#include <QDesktopServices>
#include <QUrl>

namespace quill {

bool DesktopFileOpener::open(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace quill
