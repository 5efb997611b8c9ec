#include "preflight/PreflightFlow.h"

#include <QFile>
#include <QTimer>

#include "core/Choices.h"
#include "core/Form.h"
#include "exec/ScriptRun.h"
#include "preflight/PreflightQuestions.h"
#include "preflight/PreflightTexts.h"
#include "preflight/RemainderScript.h"

namespace quill::preflight {

namespace {

// The texts carry Windows line breaks; the log box would show "\r\n" as two.
QString forLog(QString text) {
    return text.replace("\r\n", "\n");
}

bool scannedWhole(const ScriptFacts& f) {
    return !f.readError && !f.cancelled && !f.needsCodePage && !f.decodeFailure && !f.syntaxError &&
           f.batchesExact;
}

}  // namespace

PreflightFlow::PreflightFlow(Form& form, Choices& choices, ResumeStore store,
                             QString interpreterFolder, QObject* parent)
    : QObject(parent),
      form_(form),
      choices_(choices),
      store_(std::move(store)),
      interpreterFolder_(std::move(interpreterFolder)),
      preflight_(store_) {
    connect(&preflight_, &Preflight::finished, this,
            [this](const PreflightResult& result) { scanned(result); });
}

void PreflightFlow::scriptDropped(const QString& path) {
    ++drop_;
    path_ = path;
    result_.reset();
    consoleReady_ = false;
    start_.reset();
    client_ = scriptClient(interpreterFolder_);
    preflight_.setPrepareRemainders(client_ == ScriptClient::MicrosoftSqlcmd);
    preflight_.start(path);
}

void PreflightFlow::rescan(int codePage) {
    result_.reset();
    start_.reset();
    preflight_.start(path_, codePage);
}

// A record that points past the script's last batch belongs to a run that
// got to the end but died before it could say so: nothing is left of it.
void PreflightFlow::scanned(PreflightResult result) {
    if (result.path != path_)
        return;
    if (result.resume && result.key && scannedWhole(result.facts) &&
        result.resume->nextBatch > result.facts.batches) {
        store_.finishRun(*result.key);
        result.resume.reset();
        result.remainder.reset();
    }
    result_ = std::move(result);
    if (scannedWhole(result_->facts))
        emit batchesCounted(result_->path, result_->facts.batches);
    if (consoleReady_) {
        form_.appendLog(forLog(report()));
        askLater();
    }
}

QString PreflightFlow::consoleReady() {
    consoleReady_ = true;
    if (!result_)
        return {};  // the report follows when the scan ends
    askLater();
    return report();
}

QString PreflightFlow::report() {
    const ScriptFacts& facts = result_->facts;
    if (!runnable() && !facts.needsCodePage && !facts.cancelled)
        form_.setStatus(1, notRunnableStatus());
    return preflightReport(facts, client_);
}

bool PreflightFlow::runnable() const {
    const ScriptFacts& f = result_->facts;
    if (client_ == ScriptClient::QuillSqlcmd)
        return f.runnable();
    // Microsoft's sqlcmd has its own view of sqlcmd syntax and commands.
    return !f.readError && !f.cancelled && !f.needsCodePage && !f.decodeFailure;
}

void PreflightFlow::askLater() {
    QTimer::singleShot(0, this, [this, drop = drop_] {
        if (drop == drop_)
            ask();
    });
}

// At the drop: the code page a script needs, then where to start.
void PreflightFlow::ask() {
    if (!result_)
        return;
    if (result_->facts.needsCodePage) {
        if (const std::optional<int> codePage = askCodePage(choices_, path_, result_->facts)) {
            form_.appendLog(forLog(rescanLine(*codePage)));
            rescan(*codePage);
        } else {
            form_.setStatus(1, noCodePageStatus());
        }
        return;
    }
    if (!runnable() || !result_->resume || start_)
        return;
    switch (askResume(choices_, *result_->resume)) {
        case ResumeAnswer::Continue:
            start_ = *result_->resume;
            break;
        case ResumeAnswer::FromStart:
            start_ = ResumePoint{};
            break;
        case ResumeAnswer::Dismissed:
            break;  // asked again at 按钮4
    }
}

std::optional<ResumePoint> PreflightFlow::resumePoint(const ScriptKey& key) const {
    std::optional<ResumePoint> point = store_.lookup(key);
    const ScriptFacts& facts = result_->facts;
    if (point && scannedWhole(facts) && point->nextBatch > facts.batches) {
        store_.finishRun(key);
        return std::nullopt;
    }
    return point;
}

std::variant<exec::RunPlan, QString> PreflightFlow::planRun(const QString& path) {
    if (path != path_) {
        // Not this flow's drop (nothing else sets 编辑框5): check it first,
        // in the console that runs.
        const bool ready = consoleReady_;
        scriptDropped(path);
        consoleReady_ = ready;
        return scanningStatus();
    }
    if (!result_)
        return scanningStatus();
    // What was checked must be what runs: a script edited since its drop is
    // checked again (its code page, its batches, its resume point).
    const std::optional<ScriptKey> key = scriptKeyOf(path);
    if (!key || !result_->key || *key != *result_->key) {
        rescan(0);
        return changedStatus();
    }
    if (result_->facts.needsCodePage) {
        const std::optional<int> codePage = askCodePage(choices_, path_, result_->facts);
        if (!codePage)
            return noCodePageStatus();
        form_.appendLog(forLog(rescanLine(*codePage)));
        rescan(*codePage);
        return scanningStatus();
    }
    if (!runnable())
        return notRunnableStatus();

    ResumePoint from;
    if (start_) {
        from = *std::exchange(start_, std::nullopt);
    } else if (const std::optional<ResumePoint> point = resumePoint(*key)) {
        // Left open at the drop, or a run of this drop broke off: running
        // from the top unasked would send its batches twice.
        switch (askResume(choices_, *point)) {
            case ResumeAnswer::Continue:
                from = *point;
                break;
            case ResumeAnswer::FromStart:
                break;
            case ResumeAnswer::Dismissed:
                return noStartStatus();
        }
    }

    const ScriptFacts& facts = result_->facts;
    exec::RunPlan plan{path, withScriptOptions({}, client_, facts.codePage, from.nextBatch), {}};
    Run run{*key};
    run.totalBatches = facts.batches;
    run.totalExact = scannedWhole(facts);
    QString log;
    if (client_ == ScriptClient::QuillSqlcmd) {
        QString error;
        const QString journal = store_.beginRun(*key, from, &error);
        if (journal.isEmpty()) {
            log += journalFailure(error);
        } else {
            plan.environment.emplace_back(QString::fromLatin1(console::kJournalVariable), journal);
            run.journal = true;
        }
    } else {
        if (from.nextBatch > 1) {
            // Written at the drop for the point offered then; else now.
            const bool prepared = result_->remainder && result_->resume &&
                                  result_->resume->nextBatch == from.nextBatch &&
                                  result_->resume->nextLine == from.nextLine;
            const Remainder remainder =
                prepared ? *result_->remainder
                         : writeRemainderScript(
                               QFile::encodeName(path).toStdString(), from.nextBatch, from.nextLine,
                               facts.codePage,
                               QFile::encodeName(store_.remainderPath(*key)).toStdString());
            // The record stays, so that nothing is lost when the remainder cannot be had.
            if (remainder.outcome != Remainder::Outcome::Written)
                return remainderFailure(remainder);
            plan.scriptPath = store_.remainderPath(*key);
        }
        // Forgotten once the client has started (runRecord), not before: a
        // run refused on the way must not lose it.
        run.untracked = true;
    }
    if (from.nextBatch > 1)
        log += resumingLine(from);
    if (!log.isEmpty())
        form_.appendLog(forLog(log));
    run_ = run;
    return plan;
}

void PreflightFlow::runRecord(const console::StatusRecord& record) {
    if (!run_)
        return;
    if (record.tag == "started") {
        run_->started = true;
        if (run_->untracked)
            store_.beginUntrackedRun(run_->key);
    } else if (record.tag == "input" && record.numbers.size() == 2)
        run_->inputBatches = record.numbers[1];
    else if (record.tag == "progress" && record.numbers.size() == 2)
        run_->batchesDone = std::max(run_->batchesDone, record.numbers[0]);
}

QString PreflightFlow::runEnded(const exec::RunOutcome&) {
    if (!run_)
        return {};
    const Run run = *std::exchange(run_, std::nullopt);
    if (run.untracked) {
        // Nothing to keep but the remainder it ran, which goes. A client
        // that never started changed nothing.
        if (run.started)
            store_.finishRun(run.key);
        return {};
    }
    if (!run.journal)
        return {};
    // The journal on disk tells how far the run got, whatever ended it (a
    // stop, a lost connection, a crash); the records, coalesced, may lag.
    const std::optional<ResumePoint> point = store_.lookup(run.key);
    const bool reachedEnd = (run.inputBatches >= 0 && run.batchesDone >= run.inputBatches) ||
                            (point && run.totalExact && point->nextBatch > run.totalBatches);
    if (!point || reachedEnd) {
        store_.finishRun(run.key);
        return {};
    }
    return resumableLine(*point);
}

}  // namespace quill::preflight
