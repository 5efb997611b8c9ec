#include "exec/ScriptRun.h"

#include <algorithm>
#include <limits>

namespace quill::exec {

void ScriptRun::onText(QByteArrayView text, std::vector<qint64>* errorLines) {
    std::vector<ScriptMessage> messages;
    parser_.feed(text, messages, errorLines);
    take(messages);
}

// A run may print millions of errors: what the outcome needs is counted,
// and only the first are kept.
void ScriptRun::take(std::vector<ScriptMessage>& messages) {
    for (ScriptMessage& m : messages) {
        ++errorCount_;
        serverErrors_ = serverErrors_ || std::holds_alternative<ServerError>(m);
        if (!loginFailure_ && isLoginFailure(m))
            loginFailure_ = m;
        if (errors_.size() < kKeptErrors)
            errors_.push_back(std::move(m));
    }
}

void ScriptRun::onRecord(const console::StatusRecord& record) {
    const std::vector<long long>& n = record.numbers;
    const std::string& tag = record.tag;
    if (tag == "exited" && n.size() == 1)
        exitStatus_ = int(n[0]);
    else if (tag == "signalled" && n.size() == 1)
        signal_ = int(n[0]);
    else if (tag == "unstarted")
        unstarted_ = true;
    else if (tag == "input" && n.size() == 2)
        inputBatches_ = n[1];
    else if (tag == "progress" && n.size() == 2)
        batchesDone_ = std::max(batchesDone_, n[0]);
    else if (tag == "failed" && n.size() == 4)
        failedBatchErrors_ += std::max(0LL, n[1]);
    else if (tag == "cancelled" && n.size() == 2)
        cancelled_ = record;
}

void ScriptRun::endOfOutput(std::vector<qint64>* errorLines) {
    std::vector<ScriptMessage> last;
    parser_.finish(last, errorLines);
    take(last);
}

RunOutcome ScriptRun::known() {
    endOfOutput();

    RunOutcome o;
    o.exitStatus = exitStatus_;
    o.signal = signal_;
    o.errorCount = int(std::min<long long>(std::max(errorCount_, failedBatchErrors_),
                                           std::numeric_limits<int>::max()));
    if (!errors_.empty())
        o.firstError = errors_.front();
    o.lastLine = parser_.lastLine();
    o.batchesDone = batchesDone_;
    return o;
}

RunOutcome ScriptRun::finish() {
    RunOutcome o = known();
    using Kind = RunOutcome::Kind;
    const bool everyBatchDone =
        inputBatches_ >= 0 && batchesDone_ >= inputBatches_ && o.exitStatus == 0;
    // A stop that came too late for the last batch leaves a finished run.
    if (stopRequested_ && !everyBatchDone) {
        o.kind = Kind::Stopped;
        if (cancelled_) {
            o.stoppedBatch = cancelled_->numbers[0];
            o.stoppedLine = cancelled_->numbers[1];
            o.batchCancelled = true;
        } else if (batchesDone_ >= 0 && (inputBatches_ < 0 || batchesDone_ < inputBatches_)) {
            o.stoppedBatch = batchesDone_ + 1;
        }
        return o;
    }
    if (unstarted_) {
        o.kind = Kind::Unstarted;
        return o;
    }
    if (signal_ != 0) {
        o.kind = Kind::Killed;
        return o;
    }
    if (loginFailure_ && o.exitStatus != 0) {
        o.kind = Kind::LoginFailed;
        o.firstError = *loginFailure_;
        return o;
    }
    if (o.exitStatus == 0 && o.errorCount == 0) {
        o.kind = Kind::Clean;
        return o;
    }
    const bool serverErrors = failedBatchErrors_ > 0 || serverErrors_;
    // A client that failed on its own (a script it cannot open or decode)
    // says so with its status; errors of the script itself leave it at 0.
    o.kind =
        o.errorCount > 0 && (serverErrors || o.exitStatus == 0) ? Kind::Errors : Kind::ClientFailed;
    return o;
}

RunOutcome ScriptRun::breakOff() {
    if (stopRequested_ || exitStatus_ || signal_ != 0 || unstarted_)
        return finish();
    RunOutcome o = known();
    o.kind = RunOutcome::Kind::BrokeOff;
    return o;
}

}  // namespace quill::exec
