#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace quill {

// Runs the work of one database connection on a thread of its own, one job
// after another in the order they were posted, so the GUI thread never
// waits for the server. A job hands its results to the GUI thread with the
// Deliver it is given: each update is posted (postToGui) to a context
// object of the worker's, living on the thread that created the worker,
// and runs there in the order delivered. Once shutDown has begun, updates
// are dropped instead.
//
// Jobs touch only what they own (a shared connection, copies of their
// inputs) and leave the rest to delivered updates: a job still running
// when the window goes may outlive it.
class DatabaseWorker {
public:
    using Update = std::function<void()>;
    using Deliver = std::function<void(Update)>;
    using Job = std::function<void(const Deliver&)>;

    // Create it on the GUI thread.
    DatabaseWorker();
    // Shuts down (no last job) if shutDown has not run.
    ~DatabaseWorker();
    DatabaseWorker(const DatabaseWorker&) = delete;
    DatabaseWorker& operator=(const DatabaseWorker&) = delete;

    // Queues a job. Call on the GUI thread.
    void post(Job job);
    // No job queued or running, and every update of theirs delivered.
    bool idle() const { return pending_ == 0; }

    // A copy of a text that shares nothing with it, for a job to take along.
    // Sharing would be safe (Qt counts references atomically), but it does
    // so inside Qt, where ThreadSanitizer cannot see the threads take turns.
    static QString own(const QString& text) { return QString(text.constData(), text.size()); }

    // Drops the jobs not yet started, runs `last` after the job under way,
    // and waits up to `grace` for both. A job that takes longer (a login to
    // a host that does not answer) is left to finish, and `last` after it,
    // on their own; from now on nothing is delivered. Call on the GUI thread.
    void shutDown(std::function<void()> last, std::chrono::milliseconds grace);

private:
    struct Shared;
    static void run(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> shared_;
    std::unique_ptr<QObject> context_;
    std::thread thread_;
    int pending_ = 0;  // jobs posted whose last update has not run yet
};

}  // namespace quill
