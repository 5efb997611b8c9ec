#pragma once

#include <QString>
#include <utility>
#include <variant>
#include <vector>

#include "console/StatusChannel.h"

namespace quill::exec {

struct RunOutcome;

// How one run of the dropped script is to go, beyond the connection: the
// file the client reads, the options after the command line, and variables
// for the client alone (the interpreter sets them for that one program).
struct RunPlan {
    QString scriptPath;
    QString options;  // appended as they are, each with its blank before it
    std::vector<std::pair<QString, QString>> environment;
};

// What the run of a script needs from around it, at four moments. The
// execution calls these on the GUI thread; without hooks a script runs as
// it stands. Log texts break lines with "\r\n".
class RunHooks {
public:
    virtual ~RunHooks() = default;

    // The console of a new drop printed its first prompt: its banner is in
    // the log, and nothing has run. Returns text for the log after the banner.
    virtual QString consoleReady() { return {}; }

    // 按钮4 asks to run the script at `path`: the plan, or the status text
    // that says why it cannot run now. May ask the user.
    virtual std::variant<RunPlan, QString> planRun(const QString& path) = 0;

    // Every status record of the run, in order.
    virtual void runRecord(const console::StatusRecord& record) { (void)record; }

    // The run has ended, however. Returns text for the log after the run's
    // own last line.
    virtual QString runEnded(const RunOutcome& outcome) {
        (void)outcome;
        return {};
    }
};

}  // namespace quill::exec
