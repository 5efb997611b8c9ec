// The worker that keeps database work off the GUI thread.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <future>
#include <vector>

#include "db/DatabaseWorker.h"
#include "support/Wait.h"

using namespace quill;
using namespace std::chrono_literals;

TEST(DatabaseWorker, JobsRunInTurnOffThisThreadAndTheirUpdatesArriveInOrder) {
    DatabaseWorker worker;
    std::vector<int> updates;
    std::atomic<int> offThread{0};
    QThread* gui = QThread::currentThread();
    for (int job = 0; job < 3; ++job) {
        worker.post([&, job](const DatabaseWorker::Deliver& deliver) {
            offThread += QThread::currentThread() != gui;
            for (int step = 0; step < 2; ++step)
                deliver([&, job, step] {
                    EXPECT_EQ(QThread::currentThread(), gui);
                    updates.push_back(job * 10 + step);
                });
        });
    }
    EXPECT_FALSE(worker.idle());
    ASSERT_TRUE(test::waitUntil([&] { return worker.idle(); }));
    EXPECT_EQ(offThread, 3);
    EXPECT_EQ(updates, (std::vector<int>{0, 1, 10, 11, 20, 21}));
}

TEST(DatabaseWorker, ShutDownWaitsAMomentOnlyAndThenDeliversNothing) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> lastRan;
    std::atomic<bool> started{false};
    bool delivered = false;
    bool droppedJobRan = false;
    {
        DatabaseWorker worker;
        worker.post([&, released](const DatabaseWorker::Deliver& deliver) {
            started = true;
            released.wait();  // a login that takes its time
            deliver([&] { delivered = true; });
        });
        worker.post([&](const DatabaseWorker::Deliver&) { droppedJobRan = true; });
        ASSERT_TRUE(test::waitUntil([&] { return started.load(); }));
        const auto before = std::chrono::steady_clock::now();
        worker.shutDown([&] { lastRan.set_value(); }, 200ms);
        EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    }
    release.set_value();
    // The job finishes on its own, then the last job; the rest was dropped.
    EXPECT_EQ(lastRan.get_future().wait_for(10s), std::future_status::ready);
    QCoreApplication::processEvents();
    EXPECT_FALSE(delivered);
    EXPECT_FALSE(droppedJobRan);
}
