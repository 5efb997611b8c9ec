#pragma once

#include <memory>
#include <string>

#include "Format.h"
#include "Script.h"

struct tds_dblib_dbprocess;

namespace quill::sqlcmd {

struct Options;
struct ServerAddress;
class Printer;

// One connection through FreeTDS's DB-Library, which hands over every part of
// a server message (number, severity, state, server, procedure, line) that
// sqlcmd prints.
class DbSession : public Executor {
public:
    // Logs in and sets the session up as sqlcmd does; on failure prints why
    // and returns null.
    static std::unique_ptr<DbSession> open(const Options& options, const ServerAddress& address,
                                           Printer& printer);
    ~DbSession() override;

    ExecResult execute(const Batch& batch, long repeat) override;
    ExecResult executeForValue(const Batch& batch) override;
    std::size_t batchLimit() const override;

    // True once what runs is to be stopped (a SIGINT, a while ago): the
    // batch is cancelled on the server (an attention), and its confirmation
    // awaited.
    void setInterruptCheck(bool (*interrupted)());

    // Called by DB-Library's handlers.
    void onMessage(long number, int state, int severity, const char* text, const char* server,
                   const char* procedure, int line);
    // Returns what DB-Library is to do (INT_CANCEL, INT_TIMEOUT, ...).
    int onError(int dbError, int osError, const char* text, const char* osText);
    bool interruptPending() const;
    int onInterrupt();

private:
    DbSession(const Options& options, Printer& printer);
    bool run(const std::string& text, ExecResult& result);
    void printResultSet();
    // Cancels what runs on the server and drains its answer.
    void cancel();
    bool interrupted() const { return interrupted_ && interrupted_(); }

    const Options& options_;
    Printer& printer_;
    TableFormatter table_;
    tds_dblib_dbprocess* dbproc_ = nullptr;
    std::string server_;  // as given to DB-Library, for messages
    bool loggingIn_ = true;
    bool quiet_ = false;  // session set-up: no output
    bool loginMessagePrinted_ = false;
    const Batch* batch_ = nullptr;  // for mapping server lines to file lines
    ExecResult* result_ = nullptr;
    bool wantValue_ = false;
    std::optional<std::string> lastValue_;
    bool (*interrupted_)() = nullptr;
    bool sending_ = false;  // an attention now would cut a packet in two
    bool attentionSent_ = false;
};

}  // namespace quill::sqlcmd
