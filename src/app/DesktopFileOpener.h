#pragma once

#include "core/FileOpener.h"

namespace quill {

// Opens a file with the desktop's default program for its type.
class DesktopFileOpener : public FileOpener {
public:
    bool open(const QString& path) override;
};

}  // namespace quill
