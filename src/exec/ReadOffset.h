#pragma once

#include <sys/types.h>

#include <QString>
#include <optional>

namespace quill::exec {

// How far a process has read a file, from /proc: the offset of the
// descriptor on which it, or a child of it, holds the file open. For a
// client that says nothing of its progress (Microsoft's sqlcmd), this is
// how much of the script it has taken in.
class ReadOffsetProbe {
public:
    ReadOffsetProbe(pid_t pid, const QString& path);

    // The offset now; nothing while no such descriptor is open (yet, or
    // any longer), or when the file or the process cannot be looked at.
    std::optional<qint64> offset();

    // The file name of the program a process runs; empty when unknown.
    static QString programName(pid_t pid);

private:
    bool holds(pid_t pid, int fd) const;
    bool find();

    pid_t pid_;
    bool fileKnown_ = false;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    pid_t holder_ = 0;  // the process and descriptor found
    int fd_ = -1;
};

}  // namespace quill::exec
