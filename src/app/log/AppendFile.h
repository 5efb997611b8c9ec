#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

namespace quill::logbox {

// One file that log bytes are appended to: the log's own spool (an unlinked
// scratch file) or a run's log. Appends collect in a small tail that is
// written out when it grows or on flush(), so appending costs no system call
// per chunk. When the disk refuses a write, the bytes stay in memory and
// problem() says why: nothing appended is ever lost.
//
// GUI thread only, apart from Frozen, which workers read.
class AppendFile : public std::enable_shared_from_this<AppendFile> {
public:
    // What a worker may read: the bytes appended so far. It keeps the file
    // open, so a cleared log's spool stays readable until the worker is done.
    class Frozen {
    public:
        quint64 size() const { return written_ + quint64(tail_.size()); }
        // Reads up to length bytes at offset; returns how many were read.
        qint64 read(quint64 offset, char* out, qint64 length) const;

    private:
        friend class AppendFile;
        std::shared_ptr<const AppendFile> file_;
        quint64 written_ = 0;
        QByteArray tail_;  // shares the live tail's bytes until it changes
    };

    // An unlinked scratch file in folder. Without one (no folder, no room)
    // the bytes are kept in memory and problem() says so.
    static std::shared_ptr<AppendFile> scratch(const QString& folder);
    // Appends to the file at path, creating it when missing; nullptr with
    // *error set when it cannot be opened.
    static std::shared_ptr<AppendFile> open(const QString& path, QString* error);

    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    quint64 size() const { return written_ + quint64(tail_.size()); }
    void append(QByteArrayView bytes);
    // Writes the tail out. False when the disk refused it.
    bool flush();
    qint64 read(quint64 offset, char* out, qint64 length) const;
    Frozen freeze() const;

    // Why bytes are held in memory instead of on disk; empty when all is well.
    const QString& problem() const { return problem_; }

private:
    // Up to this much waits in memory before it is written out.
    static constexpr qsizetype kTailLimit = 1 << 20;

    AppendFile(int fd, quint64 size, bool keep) : fd_(fd), keep_(keep), written_(size) {}
    static qint64 readFrom(int fd, quint64 written, const QByteArray& tail, quint64 offset,
                           char* out, qint64 length);

    const int fd_;     // -1: memory only
    const bool keep_;  // a run's log: written out to the last byte when closed
    quint64 written_;
    QByteArray tail_;
    QString problem_;
    qsizetype writeAt_ = kTailLimit;  // the tail size at which it is written out
};

}  // namespace quill::logbox
