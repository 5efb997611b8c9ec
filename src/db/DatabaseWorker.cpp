#include "db/DatabaseWorker.h"

#include <condition_variable>
#include <deque>
#include <mutex>

#include "core/GuiThread.h"

namespace quill {

struct DatabaseWorker::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable finished;
    std::deque<Job> jobs;
    std::function<void()> last;
    bool stopping = false;
    bool done = false;

    // Updates are posted under this lock, so none is on its way once the
    // context is cleared.
    std::mutex contextMutex;
    QObject* context = nullptr;
};

DatabaseWorker::DatabaseWorker()
    : shared_(std::make_shared<Shared>()), context_(std::make_unique<QObject>()) {
    shared_->context = context_.get();
    thread_ = std::thread([shared = shared_] { run(shared); });
}

DatabaseWorker::~DatabaseWorker() {
    shutDown({}, std::chrono::seconds(1));
}

void DatabaseWorker::post(Job job) {
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->stopping)
            return;
        ++pending_;
        shared_->jobs.push_back([this, job = std::move(job)](const Deliver& deliver) {
            job(deliver);
            deliver([this] { --pending_; });
        });
    }
    shared_->wake.notify_one();
}

void DatabaseWorker::run(const std::shared_ptr<Shared>& shared) {
    const Deliver deliver = [shared](Update update) {
        std::lock_guard lock(shared->contextMutex);
        if (shared->context)
            postToGui(shared->context, std::move(update));
    };
    for (;;) {
        Job job;
        {
            std::unique_lock lock(shared->mutex);
            shared->wake.wait(lock, [&] { return !shared->jobs.empty() || shared->stopping; });
            if (shared->jobs.empty())
                break;
            job = std::move(shared->jobs.front());
            shared->jobs.pop_front();
        }
        job(deliver);
    }
    std::function<void()> last;
    {
        std::lock_guard lock(shared->mutex);
        last = std::move(shared->last);
    }
    if (last)
        last();
    {
        std::lock_guard lock(shared->mutex);
        shared->done = true;
    }
    shared->finished.notify_all();
}

void DatabaseWorker::shutDown(std::function<void()> last, std::chrono::milliseconds grace) {
    if (!context_)
        return;
    {
        std::lock_guard lock(shared_->contextMutex);
        shared_->context = nullptr;
    }
    // Updates already posted go with their context.
    context_.reset();
    bool done;
    {
        std::unique_lock lock(shared_->mutex);
        shared_->jobs.clear();
        shared_->last = std::move(last);
        shared_->stopping = true;
        shared_->wake.notify_one();
        done = shared_->finished.wait_for(lock, grace, [&] { return shared_->done; });
    }
    if (done)
        thread_.join();
    else
        thread_.detach();
}

}  // namespace quill
