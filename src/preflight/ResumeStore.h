#pragma once

#include <QString>
#include <optional>

#include "preflight/ScriptKey.h"

namespace quill::preflight {

// Where a broken run of a script would go on: the next batch to send and
// the script line it starts on. The batch `nextBatch` itself was the one in
// flight when the run broke, so it may have been partly applied.
struct ResumePoint {
    qint64 nextBatch = 1;
    qint64 nextLine = 1;
};

// Remembers, per script, how far its last run got, in files under the
// user's state folder, so that it survives a restart and a kill -9:
//   <folder>/<id>.key      the script's key and where its run started (JSON)
//   <folder>/<id>.journal  what quill-sqlcmd keeps there (QUILL_JOURNAL)
// where <id> is taken from the script's path. Not thread-bound: every call
// works on the files alone.
class ResumeStore {
public:
    explicit ResumeStore(QString folder = defaultFolder());

    // $XDG_STATE_HOME/Quillstep/resume, or ~/.local/state/Quillstep/resume.
    static QString defaultFolder();
    QString folder() const { return folder_; }

    // Before a run of the script starts at `from`: records it, and returns
    // the journal the client is to keep (QUILL_JOURNAL), already holding
    // `from`, so that a run killed before its first batch still resumes
    // there. Empty, with *error set, when the folder cannot be written.
    QString beginRun(const ScriptKey& key, const ResumePoint& from, QString* error = nullptr);

    // Before a run by a client that keeps no journal (Microsoft's sqlcmd):
    // how far it gets cannot be known, so nothing may be offered after it,
    // not even the start of an earlier break, which it may have passed.
    // The remainder script it is to run stays until finishRun.
    void beginUntrackedRun(const ScriptKey& key) const { forget(key, false); }

    // What a run of this very script left when it broke off past its first
    // batch. A record of another version of the file (any part of the key
    // differs) is forgotten.
    std::optional<ResumePoint> lookup(const ScriptKey& key) const;

    // The run reached the end of the script, or ran untracked: nothing is
    // left to resume, and the remainder script goes too.
    void finishRun(const ScriptKey& key) const;

    // Where the remainder script for Microsoft's sqlcmd is written.
    QString remainderPath(const ScriptKey& key) const;

private:
    QString base(const ScriptKey& key) const;
    void forget(const ScriptKey& key, bool withRemainder = true) const;

    QString folder_;
};

}  // namespace quill::preflight
