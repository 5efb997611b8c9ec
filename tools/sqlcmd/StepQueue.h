#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

#include "ScriptReader.h"

namespace quill::sqlcmd {

// Steps from the reader's thread to the thread that runs them. Bounded, so
// that memory stays a few batches deep however far the reader could run
// ahead: the producer waits while `maxBytes` of batch text or `maxSteps`
// steps are queued (a single larger batch is always let through). Either
// side wakes the other only when it may be waiting, and the producer only
// when half the room is free again, so that small batches cost no system
// call each.
class StepQueue {
public:
    StepQueue(std::size_t maxBytes, std::size_t maxSteps);

    // Producer: false once the consumer has closed the queue.
    bool push(Step&& step);
    // Producer: nothing more will come.
    void finish();

    // Consumer: the next step; nothing when finished and drained, or closed.
    std::optional<Step> pop();
    // Consumer: it takes nothing more; push fails from now on.
    void close();
    bool closed() const;

private:
    bool full() const;

    const std::size_t maxBytes_;
    const std::size_t maxSteps_;
    mutable std::mutex mutex_;
    std::condition_variable producerWake_;
    std::condition_variable consumerWake_;
    std::deque<Step> steps_;
    std::size_t bytes_ = 0;
    bool finished_ = false;
    bool closed_ = false;
    bool producerWaiting_ = false;
    bool consumerWaiting_ = false;
};

}  // namespace quill::sqlcmd
