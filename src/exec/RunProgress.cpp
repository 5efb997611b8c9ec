#include "exec/RunProgress.h"

#include <algorithm>
#include <cmath>

namespace quill::exec {

std::optional<double> ProgressFigures::share() const {
    if (bytesTotal > 0 && bytesDone >= 0)
        return std::clamp(double(bytesDone) / double(bytesTotal), 0.0, 1.0);
    if (batchesTotal > 0 && batchesDone >= 0)
        return std::clamp(double(batchesDone) / double(batchesTotal), 0.0, 1.0);
    return std::nullopt;
}

void RunProgress::setScriptBatches(qint64 batches) {
    scannedBatches_ = batches;
}

void RunProgress::onRecord(const console::StatusRecord& record, qint64 nowMs) {
    const std::vector<long long>& n = record.numbers;
    const bool about = (record.tag == "input" || record.tag == "progress") && n.size() == 2;
    if (about && !clientReports_) {
        // The client's own word from now on, not what its reading suggested.
        clientReports_ = true;
        bytesDone_ = batchesDone_ = -1;
        samples_.clear();
        baseline_.reset();
    }
    if (record.tag == "input" && n.size() == 2) {
        if (n[0] > 0)
            bytesTotal_ = n[0];
        batchesTotal_ = n[1];
        bytesDone_ = std::max<qint64>(bytesDone_, 0);
        batchesDone_ = std::max<qint64>(batchesDone_, 0);
    } else if (record.tag == "progress" && n.size() == 2) {
        batchesDone_ = std::max<qint64>(batchesDone_, n[0]);
        bytesDone_ = std::max<qint64>(bytesDone_, n[1]);
        // The pace is measured from the client's first word on progress: a
        // resumed run's first record counts the batches it skipped.
        if (!baseline_)
            baseline_ = Sample{nowMs, bytesDone_, batchesDone_};
    } else {
        return;
    }
    sample(nowMs);
}

void RunProgress::onReadOffset(qint64 offset, qint64 nowMs) {
    if (clientReports_)
        return;
    bytesDone_ = offset;
    // The client reads from the start of the file, from the run's start.
    if (!baseline_)
        baseline_ = Sample{0, 0, -1};
    sample(nowMs);
}

void RunProgress::sample(qint64 nowMs) {
    samples_.push_front({nowMs, bytesDone_, batchesDone_});
    // Keep one sample at or before the window's start, to measure from.
    while (samples_.size() > 2 && samples_[samples_.size() - 2].ms <= nowMs - kRateWindowMs)
        samples_.pop_back();
}

ProgressFigures RunProgress::figures(qint64 nowMs) const {
    ProgressFigures f;
    f.elapsedMs = nowMs;
    f.bytesTotal = bytesTotal_;
    f.bytesDone =
        bytesTotal_ >= 0 && bytesDone_ >= 0 ? std::min(bytesDone_, bytesTotal_) : bytesDone_;
    f.batchesTotal = batchesTotal_ >= 0 ? batchesTotal_ : scannedBatches_;
    f.batchesDone = batchesDone_;
    if (samples_.empty())
        return f;

    // Over the window up to now: a client that has stalled slows the rates.
    const Sample& newest = samples_.front();
    Sample oldest = samples_.back();
    if (oldest.ms > nowMs - kRateWindowMs) {
        // Younger than the window: from where the pace is measured.
        if (!baseline_)
            return f;
        oldest = *baseline_;
    }
    const double seconds = double(nowMs - oldest.ms) / 1000;
    if (seconds <= 0)
        return f;
    if (newest.bytes >= 0)
        f.bytesPerSecond = double(newest.bytes - std::max<qint64>(oldest.bytes, 0)) / seconds;
    if (newest.batches >= 0)
        f.batchesPerSecond = double(newest.batches - std::max<qint64>(oldest.batches, 0)) / seconds;

    if (nowMs >= kSettleMs) {
        if (f.bytesTotal > 0 && f.bytesDone >= 0 && f.bytesPerSecond > 0)
            f.remainingMs =
                qint64(std::ceil(double(f.bytesTotal - f.bytesDone) / f.bytesPerSecond * 1000));
        else if (f.batchesTotal > 0 && f.batchesDone >= 0 && f.batchesPerSecond > 0)
            f.remainingMs = qint64(
                std::ceil(double(f.batchesTotal - f.batchesDone) / f.batchesPerSecond * 1000));
    }
    return f;
}

}  // namespace quill::exec
