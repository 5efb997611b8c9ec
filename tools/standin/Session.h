#pragma once

#include <cstdint>
#include <unordered_map>

#include "Catalog.h"
#include "Executor.h"
#include "Packets.h"
#include "Requests.h"

namespace standin {

class EventLog;
class TokenStream;

// One client connection's protocol state: login, then batches and RPCs.
// handle() turns each request message into the reply packets.
class Session {
public:
    Session(ServerState& server, EventLog* log, int spid);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    struct Reply {
        Bytes packets;
        bool close = false;  // the connection ends after this reply
    };
    // Takes the request, so that a large batch's raw bytes can be dropped
    // once decoded.
    Reply handle(Request m);

    int spid() const { return state_.spid; }

private:
    enum class Phase { Prelogin, Login, Ready };

    struct Cursor {
        ResultSet rows;
        std::int64_t position = -1;  // first row of the current block; -1 before the first fetch
        std::int64_t blockSize = 0;
    };
    struct Prepared {
        std::u16string text;
        std::vector<std::u16string> paramNames;
    };

    Reply login(const Request& m);
    Reply batch(Request& m);
    Reply rpc(const Request& m);
    Reply frame(const Bytes& payload, bool close = false) const;

    void call(RpcCall& c, Bytes& out);
    void cursorOpen(RpcCall& c, TokenStream& ts);
    void cursorFetch(RpcCall& c, TokenStream& ts);
    void cursorClose(RpcCall& c, TokenStream& ts);
    void executeSql(RpcCall& c, TokenStream& ts);
    void prepare(RpcCall& c, TokenStream& ts, bool execute);
    void executePrepared(RpcCall& c, TokenStream& ts);
    void unprepare(RpcCall& c, TokenStream& ts);
    void procError(TokenStream& ts, const SqlError& e);
    void procDone(TokenStream& ts, std::uint16_t status = 0);

    ServerState& server_;
    EventLog* log_;
    SessionState state_;
    Phase phase_ = Phase::Prelogin;
    std::size_t packetSize_ = 4096;
    bool fatal_ = false;
    std::unordered_map<std::int32_t, Cursor> cursors_;
    std::int32_t nextCursor_ = 180150001;
    std::unordered_map<std::int32_t, Prepared> prepared_;
    std::int32_t nextPrepared_ = 1;
};

// Names of the variables an sp_executesql-style parameter list declares,
// folded ("@a int, @b nvarchar(10)" gives "@a", "@b").
std::vector<std::u16string> declaredParameters(std::u16string_view definition);

}  // namespace standin
