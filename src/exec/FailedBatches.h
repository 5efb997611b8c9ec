#pragma once

#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace quill::exec {

// Writes the batches of a run that failed to a script that runs just them
// again: each batch whole, in order, with a GO after it, in UTF-8 with a
// byte-order mark, so that every client reads it alike. The script is read
// as the client read it (its switches: input files, -f code page, -v
// variables), so the batches are the very text the client sent, variables
// substituted, text from :r files included. Where the batches before one
// left a database (USE) or SET options behind, those are set again first:
// a batch replayed alone must run where it ran.
//
// The batches are written as the client reports them, on a worker thread,
// so the file grows with the run and memory stays flat however many fail.
class FailedBatches {
public:
    struct Result {
        QString path;
        qint64 batches = 0;  // written
        QString error;       // why the file is incomplete; empty when all is well
    };

    // commandLine: the run's line (its client's switches); out: the file to
    // write (replaced).
    FailedBatches(const QString& commandLine, const QString& out);
    // Stops the worker, leaving the file as far as it got.
    ~FailedBatches();
    FailedBatches(const FailedBatches&) = delete;
    FailedBatches& operator=(const FailedBatches&) = delete;

    // Batch `number` failed; its text starts on line firstLine of the script.
    void add(long long number, long long firstLine);
    // No more batches will fail. done runs once, on the worker thread, when
    // the file is complete.
    void finish(std::function<void(const Result&)> done);

    // Where a run's failed batches go: beside its log, "<log's name without
    // .log>.failed.sql".
    static QString pathFor(const QString& runLogPath);

private:
    struct Failed {
        long long number;
        long long firstLine;
    };
    void work(const QString& commandLine);
    // The next failed batch at or after number; false when there is none.
    bool next(Failed& failed);

    const QString out_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Failed> failed_;
    bool finished_ = false;
    bool cancelled_ = false;
    std::function<void(const Result&)> done_;
    std::thread worker_;
};

}  // namespace quill::exec
