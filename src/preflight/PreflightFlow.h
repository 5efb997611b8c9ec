#pragma once

#include <QObject>
#include <QString>
#include <optional>

#include "exec/RunHooks.h"
#include "preflight/ClientCommand.h"
#include "preflight/Preflight.h"
#include "preflight/ResumeStore.h"

namespace quill {
class Choices;
class Form;
}  // namespace quill

namespace quill::preflight {

// The pre-flight of the dropped script in the window, and what it decides
// for the run:
// - after the console's banner, the log shows the script's report; a script
//   that cannot run is said so there and in panel 1, and 按钮4 refuses it;
// - a script no guess can read asks for its code page, and is scanned again;
// - a script whose last run broke off asks where to start, at the drop or,
//   when that was left open or a run of this drop broke off, at 按钮4;
// - the run gets the code page (-f i:<cp>), its start (--start-batch, or the
//   remainder script for Microsoft's sqlcmd) and its journal (QUILL_JOURNAL);
// - after the run, what is left to resume is kept, or forgotten once the
//   script ran to its end.
// Lives on the GUI thread; questions are never asked from inside the
// console's output handling, but on a later turn of the event loop.
class PreflightFlow : public QObject, public exec::RunHooks {
    Q_OBJECT
public:
    // interpreterFolder: where the console's interpreter lives, which
    // decides the client (ClientCommand.h).
    PreflightFlow(Form& form, Choices& choices, ResumeStore store, QString interpreterFolder,
                  QObject* parent = nullptr);

    // An accepted drop of the script in 编辑框5, before its console starts.
    void scriptDropped(const QString& path);

    // RunHooks
    QString consoleReady() override;
    std::variant<exec::RunPlan, QString> planRun(const QString& path) override;
    void runRecord(const console::StatusRecord& record) override;
    QString runEnded(const exec::RunOutcome& outcome) override;

signals:
    // The scan counted the script's batches exactly: a total for the
    // progress of a client that does not report one.
    void batchesCounted(const QString& path, qint64 batches);

private:
    struct Run {
        ScriptKey key;
        bool journal = false;    // quill-sqlcmd keeps one: the run may leave a resume point
        bool untracked = false;  // Microsoft's sqlcmd: how far it gets cannot be known
        bool started = false;    // the interpreter started the client
        long long inputBatches = -1;
        long long batchesDone = -1;
        long totalBatches = 0;  // as the pre-flight counted them
        bool totalExact = false;
    };

    void scanned(PreflightResult result);
    void rescan(int codePage);
    // The report for the log, with panel 1 saying so when the script cannot run.
    QString report();
    void askLater();
    void ask();
    bool runnable() const;
    std::optional<ResumePoint> resumePoint(const ScriptKey& key) const;

    Form& form_;
    Choices& choices_;
    ResumeStore store_;
    QString interpreterFolder_;
    Preflight preflight_;

    QString path_;
    ScriptClient client_ = ScriptClient::QuillSqlcmd;
    quint64 drop_ = 0;
    std::optional<PreflightResult> result_;
    bool consoleReady_ = false;
    // Where the next run starts, once the user has said.
    std::optional<ResumePoint> start_;
    std::optional<Run> run_;
};

}  // namespace quill::preflight
