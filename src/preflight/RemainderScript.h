#pragma once

#include <string>

namespace quill::preflight {

// What is left of a script from one batch on, for a client that cannot be
// told where to start (Microsoft's sqlcmd has no such option).
//
// The remainder is the script's own bytes: its byte-order mark if it has
// one, then the :setvar and :on error lines that stand above the start
// (each as written, in file order), the USE and SET statements that set the
// database and options the skipped batches left (as quill-sqlcmd sets them
// again when it resumes; written in the script's encoding) and a GO line,
// then everything from the start line to the end. The script's own text is
// not decoded and encoded again, so the data cannot change on the way, and
// the client reads the remainder with the same -f code page as the whole
// script.
struct Remainder {
    enum class Outcome {
        Written,
        NothingLeft,  // the script has no batch `nextBatch`: it ran to its end
        Mismatch,     // batch `nextBatch` does not start at `nextLine`: another file
        Includes,     // the script includes files with :r; only quill-sqlcmd can resume it
        Unreadable,   // the script cannot be read or decoded (errorNumber: errno, if any)
        WriteFailed   // the remainder could not be written (errorNumber: errno)
    };
    Outcome outcome = Outcome::Unreadable;
    int errorNumber = 0;
    long preambleLines = 0;  // lines written above the start line, the GO included
    // Line r of the remainder, past the preamble, is line r + lineShift of
    // the script: what a server message's line must be moved by.
    long lineShift = 0;
};

// Writes the remainder of `script` from batch `nextBatch`, which starts on
// `nextLine`, to `out` (replaced). codePage: the one the script is read with
// (0: decide as the pre-flight does).
Remainder writeRemainderScript(const std::string& script, long long nextBatch, long long nextLine,
                               int codePage, const std::string& out);

}  // namespace quill::preflight
