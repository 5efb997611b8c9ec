#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace quill::logbox {

// One thread for the log's long jobs (find, save as), so the window never
// waits for them. Jobs run in the order given. Each has its own cancel
// flag; destroying the worker cancels every job and waits for the thread.
// A job hands its result back to the GUI thread itself (postToGui).
class LogWorker {
public:
    using Cancel = std::shared_ptr<std::atomic<bool>>;
    using Job = std::function<void(const std::atomic<bool>& cancelled)>;

    LogWorker();
    ~LogWorker();
    LogWorker(const LogWorker&) = delete;
    LogWorker& operator=(const LogWorker&) = delete;

    // Queues job; setting the returned flag cancels it.
    Cancel post(Job job);

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::pair<Job, Cancel>> jobs_;
    Cancel running_;
    bool stopping_ = false;
    std::thread thread_;  // last: starts once everything above exists
};

}  // namespace quill::logbox
