#pragma once

#include <QByteArray>

namespace quill::db {

// The temporary file DSN "~sqlsrv.dsn" of one open, deleted when this goes.
// It lives in $TMPDIR (else /tmp), which other users share: it is created
// new with mode 0600 and never through a symbolic link; when the name is
// taken it goes into a private directory there instead. A file that cannot
// be created is simply missing; the open goes on without it.
class DsnFile {
public:
    explicit DsnFile(const QByteArray& text);
    ~DsnFile();
    DsnFile(const DsnFile&) = delete;
    DsnFile& operator=(const DsnFile&) = delete;

    // Where the file is, or would have been.
    const QByteArray& path() const { return path_; }
    bool written() const { return written_; }

    // The directory the file goes to.
    static QByteArray temporaryDirectory();

private:
    bool create(const QByteArray& path, const QByteArray& text);

    QByteArray path_;
    QByteArray privateDir_;
    bool created_ = false;
    bool written_ = false;
};

}  // namespace quill::db
