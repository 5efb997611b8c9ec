#pragma once

#include <string>
#include <utility>
#include <vector>

#include "Splitter.h"

namespace quill::sqlcmd {

// The session state that batches left behind: the database of their last
// USE and their SET options (QUOTED_IDENTIFIER, IDENTITY_INSERT, ...). A
// resumed run does not send the batches before its start, yet its first
// batch must run where and how it would have run: into the script's
// database, not the login's. Only statements alone on their line, in a
// plain form, are taken (no variables, no other statement after them), and
// none from the body of a procedure, function, trigger or view. Needs the
// batches' text and Splitter::setRecordSession.
class SessionState {
public:
    // Takes in a batch the run skips.
    void take(const Batch& batch);
    // The statements that set it again, one a line; empty when none.
    std::string statements() const;

private:
    std::string use_;
    // SET statements by what they set (all but the last word), the most
    // recently set last.
    std::vector<std::pair<std::string, std::string>> sets_;
};

}  // namespace quill::sqlcmd
