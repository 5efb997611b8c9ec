#pragma once

#include <QString>

namespace quill {

// Opens a file with the desktop's default program ("open this file").
// Behind an interface so tests can see what would have been opened.
class FileOpener {
public:
    virtual ~FileOpener() = default;
    // True when the desktop accepted the request.
    virtual bool open(const QString& path) = 0;
};

}  // namespace quill
