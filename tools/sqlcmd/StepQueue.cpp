#include "StepQueue.h"

namespace quill::sqlcmd {

StepQueue::StepQueue(std::size_t maxBytes, std::size_t maxSteps)
    : maxBytes_(maxBytes), maxSteps_(maxSteps) {}

bool StepQueue::full() const {
    return !steps_.empty() && (bytes_ >= maxBytes_ || steps_.size() >= maxSteps_);
}

bool StepQueue::push(Step&& step) {
    std::unique_lock lock(mutex_);
    if (full()) {
        producerWaiting_ = true;
        producerWake_.wait(lock, [this] {
            return closed_ || (bytes_ < maxBytes_ / 2 && steps_.size() < maxSteps_ / 2);
        });
        producerWaiting_ = false;
    }
    if (closed_) {
        return false;
    }
    bytes_ += step.batch.text.size();
    steps_.push_back(std::move(step));
    if (consumerWaiting_) {
        lock.unlock();
        consumerWake_.notify_one();
    }
    return true;
}

void StepQueue::finish() {
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    consumerWake_.notify_one();
}

std::optional<Step> StepQueue::pop() {
    std::unique_lock lock(mutex_);
    if (steps_.empty() && !finished_ && !closed_) {
        consumerWaiting_ = true;
        consumerWake_.wait(lock, [this] { return !steps_.empty() || finished_ || closed_; });
        consumerWaiting_ = false;
    }
    if (closed_ || steps_.empty()) {
        return std::nullopt;
    }
    std::optional<Step> step(std::move(steps_.front()));
    steps_.pop_front();
    bytes_ -= step->batch.text.size();
    if (producerWaiting_ && bytes_ < maxBytes_ / 2 && steps_.size() < maxSteps_ / 2) {
        lock.unlock();
        producerWake_.notify_one();
    }
    return step;
}

void StepQueue::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    producerWake_.notify_one();
}

bool StepQueue::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

}  // namespace quill::sqlcmd
