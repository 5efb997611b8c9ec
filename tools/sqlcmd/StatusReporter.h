#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "Journal.h"
#include "Script.h"
#include "console/StatusChannel.h"

namespace quill::sqlcmd {

// Tells the window how a run goes, beside the output and never in it: the
// client's records on the status channel, and the resume journal (see
// console/StatusChannel.h for both).
class StatusReporter : public RunObserver {
public:
    // journalPath empty: no journal. A journal that cannot be opened is left
    // out quietly: it serves the window, not the run. A run from the top
    // resets it at once; a resumed one leaves it until its first batch.
    StatusReporter(console::StatusWriter writer, const std::string& journalPath, bool resumed);
    StatusReporter(const StatusReporter&) = delete;
    StatusReporter& operator=(const StatusReporter&) = delete;

    void scanned(long long bytes, long batches) override;
    void skipped(const BatchPlace& place) override;
    void starting(const BatchPlace& place) override;
    void finished(const BatchPlace& place, int errors, bool complete) override;
    void interrupted(const BatchPlace& place, bool inFlight) override;
    void ended() override;

    // Where the run stands: the batch that runs, or the next one.
    struct Standing {
        long number;
        long firstLine;
        bool inFlight;
    };
    // For the interrupt watchdog, from its own thread, when the run did not
    // stop in time: the "cancelled" record for where the run stands, unless
    // one was written already.
    Standing forceInterrupted();

private:
    void progress(bool force);

    console::StatusWriter writer_;
    Journal journal_;
    bool journalStarted_ = false;

    long done_ = 0;  // batches 1..done are behind us
    long long doneOffset_ = 0;
    long written_ = -1;  // done_ of the last progress record
    std::chrono::steady_clock::time_point lastProgress_{};

    // Where the run stands, for the watchdog: the batch sent last or next.
    std::atomic<long> atNumber_{1};
    std::atomic<long> atLine_{1};
    std::atomic<bool> inFlight_{false};
    std::atomic<bool> cancelWritten_{false};
};

}  // namespace quill::sqlcmd
