#pragma once

#include "app/log/LogDocument.h"
#include "app/log/RunLogStore.h"
#include "exec/RunLog.h"

namespace quill::logbox {

// A run's output in the log box, kept in a file of the run's own from the
// run log store: the box shows it from that file, which holds exactly the
// bytes the client printed.
class DocumentRunLog final : public exec::RunLog {
public:
    DocumentRunLog(LogDocument& document, RunLogStore store)
        : document_(document), store_(std::move(store)) {}

    QString beginRun(const QDateTime& start, const QString& scriptPath, QString* error) override;
    void appendOutput(QByteArrayView bytes) override { document_.appendOutput(bytes); }
    qint64 currentLine() const override { return document_.lineCount() - 1; }
    void markLine(qint64 line) override { document_.markLine(line); }
    void endRun() override { document_.unbindRunLog(); }

private:
    LogDocument& document_;
    RunLogStore store_;
};

}  // namespace quill::logbox
