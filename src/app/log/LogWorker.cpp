#include "app/log/LogWorker.h"

namespace quill::logbox {

LogWorker::LogWorker() : thread_([this] { run(); }) {}

LogWorker::~LogWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (auto& [job, cancel] : jobs_)
            cancel->store(true);
        if (running_)
            running_->store(true);
    }
    wake_.notify_all();
    thread_.join();
}

LogWorker::Cancel LogWorker::post(Job job) {
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard lock(mutex_);
        jobs_.emplace_back(std::move(job), cancel);
    }
    wake_.notify_one();
    return cancel;
}

void LogWorker::run() {
    for (;;) {
        std::pair<Job, Cancel> next;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return;
            next = std::move(jobs_.front());
            jobs_.pop_front();
            running_ = next.second;
        }
        if (!next.second->load())
            next.first(*next.second);
        std::lock_guard lock(mutex_);
        running_.reset();
    }
}

}  // namespace quill::logbox
