#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "preflight/RemainderScript.h"
#include "preflight/ResumeStore.h"
#include "preflight/ScriptKey.h"
#include "preflight/ScriptScanner.h"

namespace quill::preflight {

// Everything the window needs to know about a dropped script before it runs.
struct PreflightResult {
    QString path;
    int codePageAsked = 0;  // the code page the scan was told to use; 0: it decided
    ScriptFacts facts;
    std::optional<ScriptKey> key;       // nothing when the file cannot be read
    std::optional<ResumePoint> resume;  // a broken run of this very file
    // With remainders prepared and a resume point: the script from there
    // on, written to the store's remainderPath.
    std::optional<Remainder> remainder;
};

// Runs the pre-flight of a script on a worker: the scan, the script's key
// and what the resume store holds for it. Lives on the GUI thread and
// reports there. A new start cancels the scan still running for an earlier
// drop, whose result is never reported.
class Preflight : public QObject {
    Q_OBJECT
public:
    explicit Preflight(ResumeStore store = ResumeStore(), QObject* parent = nullptr);
    // Cancels and waits for the worker, which stops within one block read
    // (as does an earlier drop's worker when a new one starts).
    ~Preflight() override;

    // codePage: the user's choice after a scan that needed one; 0 to decide.
    void start(const QString& path, int codePage = 0);
    void cancel();
    bool busy() const { return running_; }

    // For a client that cannot be told where to start (Microsoft's sqlcmd):
    // a script with a resume point gets its remainder written on the worker
    // too, so that going on from there does not hold up the window.
    void setPrepareRemainders(bool on) { prepareRemainders_ = on; }

signals:
    void finished(const quill::preflight::PreflightResult& result);

private:
    void stopWorker();

    ResumeStore store_;
    std::thread worker_;
    std::shared_ptr<std::atomic<bool>> cancel_;
    quint64 generation_ = 0;
    bool running_ = false;
    bool prepareRemainders_ = false;
};

}  // namespace quill::preflight
