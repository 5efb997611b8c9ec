#include "StatusReporter.h"

namespace quill::sqlcmd {

namespace {
// About ten progress records a second at most.
constexpr auto kProgressEvery = std::chrono::milliseconds(100);
}  // namespace

StatusReporter::StatusReporter(console::StatusWriter writer, const std::string& journalPath,
                               bool resumed)
    : writer_(writer), journal_(journalPath) {
    if (!resumed) {
        journal_.write(1, 1);
    }
    journalStarted_ = !resumed;
}

void StatusReporter::progress(bool force) {
    if (!writer_.active() || done_ == written_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastProgress_ < kProgressEvery) {
        return;
    }
    writer_.write("progress", {done_, doneOffset_});
    written_ = done_;
    lastProgress_ = now;
}

void StatusReporter::scanned(long long bytes, long batches) {
    writer_.write("input", {bytes, batches});
}

void StatusReporter::skipped(const BatchPlace& place) {
    done_ = place.number;
    doneOffset_ = place.endOffset;
    atNumber_.store(place.number + 1, std::memory_order_relaxed);
    atLine_.store(place.nextLine, std::memory_order_relaxed);
}

void StatusReporter::starting(const BatchPlace& place) {
    if (!journalStarted_) {
        // A journal left by an earlier run must not speak for this one.
        journalStarted_ = true;
        journal_.write(place.number, atLine_.load(std::memory_order_relaxed));
    }
    atNumber_.store(place.number, std::memory_order_relaxed);
    atLine_.store(place.firstLine, std::memory_order_relaxed);
    inFlight_.store(true, std::memory_order_relaxed);
}

void StatusReporter::finished(const BatchPlace& place, int errors, bool complete) {
    inFlight_.store(false, std::memory_order_relaxed);
    if (errors > 0) {
        writer_.write("failed", {place.number, errors, place.firstLine, place.lastLine});
    }
    if (!complete) {
        return;
    }
    journal_.write(place.number + 1, place.nextLine);
    done_ = place.number;
    doneOffset_ = place.endOffset;
    atNumber_.store(place.number + 1, std::memory_order_relaxed);
    atLine_.store(place.nextLine, std::memory_order_relaxed);
    progress(false);
}

void StatusReporter::interrupted(const BatchPlace& place, bool) {
    if (!cancelWritten_.exchange(true)) {
        writer_.write("cancelled", {place.number, place.firstLine});
    }
}

void StatusReporter::ended() {
    progress(true);
}

StatusReporter::Standing StatusReporter::forceInterrupted() {
    const Standing at{atNumber_.load(std::memory_order_relaxed),
                      atLine_.load(std::memory_order_relaxed),
                      inFlight_.load(std::memory_order_relaxed)};
    if (!cancelWritten_.exchange(true)) {
        writer_.write("cancelled", {at.number, at.firstLine});
    }
    return at;
}

}  // namespace quill::sqlcmd
