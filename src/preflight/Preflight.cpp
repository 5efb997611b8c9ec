#include "preflight/Preflight.h"

#include <QFile>

#include "core/GuiThread.h"

namespace quill::preflight {

Preflight::Preflight(ResumeStore store, QObject* parent)
    : QObject(parent), store_(std::move(store)) {}

Preflight::~Preflight() {
    stopWorker();
}

void Preflight::cancel() {
    if (cancel_)
        cancel_->store(true);
    cancel_.reset();
    ++generation_;
    running_ = false;
}

void Preflight::stopWorker() {
    cancel();
    if (worker_.joinable())
        worker_.join();
}

void Preflight::start(const QString& path, int codePage) {
    stopWorker();
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    running_ = true;
    const quint64 generation = generation_;
    worker_ = std::thread([this, path, codePage, generation, store = store_, cancel = cancel_,
                           remainders = prepareRemainders_] {
        PreflightResult result;
        result.path = path;
        result.codePageAsked = codePage;
        ScanOptions options;
        options.codePage = codePage;
        options.cancel = cancel.get();
        result.facts = scanScriptFile(QFile::encodeName(path).toStdString(), options);
        if (!result.facts.cancelled) {
            result.key = scriptKeyOf(path);
            if (result.key)
                result.resume = store.lookup(*result.key);
            if (remainders && result.resume && !cancel->load())
                result.remainder = writeRemainderScript(
                    QFile::encodeName(path).toStdString(), result.resume->nextBatch,
                    result.resume->nextLine, result.facts.codePage,
                    QFile::encodeName(store.remainderPath(*result.key)).toStdString());
        }
        if (cancel->load())
            return;
        postToGui(this, [this, generation, result = std::move(result)] {
            if (generation != generation_)
                return;
            running_ = false;
            emit finished(result);
        });
    });
}

}  // namespace quill::preflight
