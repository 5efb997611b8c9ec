#pragma once

#include <QString>

namespace quill {

// The per-user mark of a running instance: an exclusive flock on
// "<name>.lock" in $XDG_RUNTIME_DIR (or "<name>-<uid>.lock" in /tmp). The lock
// is held by an fd that is never closed and not inherited by children, so it
// lives exactly as long as this process, however it ends.
//
// Returns true when another process holds the mark. Otherwise takes the mark
// (when it can) and returns false; any failure counts as no other instance.
// An empty name stands for "Quillstep".
bool isAnotherInstanceRunning(const QString& name);

// The mark's file for a name (empty: "Quillstep"); the running instance's
// channel (InstanceChannel.h) is named after it.
QString instanceMarkPath(const QString& name);

}  // namespace quill
