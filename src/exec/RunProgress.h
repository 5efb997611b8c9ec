#pragma once

#include <QtGlobal>
#include <deque>
#include <optional>

#include "console/StatusChannel.h"

namespace quill::exec {

// How far a run has come, as plain values; RunTexts puts them into words.
// A figure that is not known is -1 (or nothing).
struct ProgressFigures {
    qint64 bytesDone = -1;  // of the script, consumed by the client
    qint64 bytesTotal = -1;
    qint64 batchesDone = -1;
    qint64 batchesTotal = -1;
    qint64 elapsedMs = 0;
    std::optional<qint64> remainingMs;
    double bytesPerSecond = -1;
    double batchesPerSecond = -1;

    // The share of the script processed, 0..1.
    std::optional<double> share() const;
    bool operator==(const ProgressFigures&) const = default;
};

// Works out a run's progress from what is known about it: the client's own
// records (quill-sqlcmd's "input" and "progress"), or else its read offset
// in the script file. Rates and the remaining time are taken over the last
// kRateWindowMs, so they follow a change of pace without jumping at every
// batch; a younger run's from its start, or from the client's first report
// (which, in a resumed run, counts the batches skipped). Times are
// milliseconds since the run started.
class RunProgress {
public:
    static constexpr qint64 kRateWindowMs = 10000;
    // No remaining time is guessed before the run has gone this long.
    static constexpr qint64 kSettleMs = 2000;

    explicit RunProgress(qint64 scriptBytes) : bytesTotal_(scriptBytes) {}

    // The batches the script holds, when a pre-scan counted them; the
    // client's own count takes precedence.
    void setScriptBatches(qint64 batches);
    // "input" and "progress" records; others are not about progress.
    void onRecord(const console::StatusRecord& record, qint64 nowMs);
    // The client's read offset in the script; ignored once the client
    // reports progress itself.
    void onReadOffset(qint64 offset, qint64 nowMs);
    // Whether the client reports progress itself.
    bool clientReports() const { return clientReports_; }

    ProgressFigures figures(qint64 nowMs) const;

private:
    struct Sample {
        qint64 ms;
        qint64 bytes;
        qint64 batches;
    };
    void sample(qint64 nowMs);

    qint64 bytesTotal_;
    qint64 bytesDone_ = -1;
    qint64 batchesTotal_ = -1;
    qint64 scannedBatches_ = -1;
    qint64 batchesDone_ = -1;
    bool clientReports_ = false;
    // From the newest back to the first at or before the rate window.
    std::deque<Sample> samples_;
    // Where rates are measured from while the run is younger than the window.
    std::optional<Sample> baseline_;
};

}  // namespace quill::exec
