#pragma once

#include <string>
#include <utility>
#include <vector>

#include "Ast.h"
#include "Catalog.h"
#include "Query.h"

namespace standin {

class EventLog;

// What one connection carries from statement to statement.
struct SessionState {
    int spid = 0;
    std::u16string database = u"master";
    bool quotedIdentifier = true;
    bool noCount = false;
    int tranCount = 0;
    std::int64_t rowCount = 0;
};

// Parameters of sp_executesql and friends, by folded name ("@p1").
using Variables = std::vector<std::pair<std::u16string, TypedValue>>;

// Runs statements for one session against the shared catalog, delivering
// results, messages and DONEs to a sink.
class Executor : private QueryEnv {
public:
    Executor(ServerState& server, SessionState& session, ResultSink& sink, EventLog* log)
        : server_(server), session_(session), sink_(sink), log_(log) {}

    // Parses and runs a batch.
    void runText(std::u16string_view text, const Variables& vars = {});
    void run(std::vector<Statement>& statements, const Variables& vars = {});
    // Reports an error as the failed statement's outcome.
    void reportError(const SqlError& e, std::int32_t line);
    // A RAISERROR of severity 20 or more ends the connection.
    bool fatal() const { return fatal_; }

private:
    enum class Flow { Continue, AbortBatch };

    Flow exec(stmt::Select& s);
    Flow exec(stmt::Insert& s);
    Flow exec(stmt::CreateDatabase& s);
    Flow exec(stmt::DropDatabase& s);
    Flow exec(stmt::CreateTable& s);
    Flow exec(stmt::DropTable& s);
    Flow exec(stmt::TruncateTable& s);
    Flow exec(stmt::Use& s);
    Flow exec(stmt::SetOptions& s);
    Flow exec(stmt::Print& s);
    Flow exec(stmt::RaiseError& s);
    Flow exec(stmt::Transaction& s);
    Flow exec(stmt::NoEffect&) { return Flow::Continue; }

    Flow fail(const SqlError& e, Flow flow);
    void counted(std::uint16_t curCmd, std::int64_t n);
    // The database a name lives in (its own part, or the current one).
    std::u16string databaseOf(const ObjectName& name) const;

    Result<TableSource> table(const ObjectName& name) override;
    std::optional<TypedValue> variable(std::u16string_view foldedName) override;
    std::u16string currentDatabase() override { return session_.database; }

    ServerState& server_;
    SessionState& session_;
    ResultSink& sink_;
    EventLog* log_;
    const Variables* vars_ = nullptr;
    std::int32_t line_ = 1;
    bool fatal_ = false;
};

// RAISERROR's message with its printf-style arguments (%d %i %u %s %x %X %o
// and %%, with optional flags, width and precision) filled in.
std::u16string formatRaiseError(std::u16string_view format, const std::vector<TypedValue>& args);

}  // namespace standin
