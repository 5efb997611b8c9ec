#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace quill::preflight {

// What tells a script file from any changed version of it: its path, size
// and modification time, and a digest of its first and last MiB (a copy
// put back with the old time, or an edit that keeps the size and time,
// still changes the digest where SSMS scripts change: their header and end).
struct ScriptKey {
    QString path;  // absolute
    qint64 size = 0;
    qint64 modifiedNs = 0;  // since the epoch
    QByteArray digest;      // SHA-256, hex

    bool operator==(const ScriptKey&) const = default;
};

// Nothing when the file cannot be read.
std::optional<ScriptKey> scriptKeyOf(const QString& path);

}  // namespace quill::preflight
