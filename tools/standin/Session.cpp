#include "Session.h"

#include <algorithm>

#include "EventLog.h"
#include "Lexer.h"
#include "Parser.h"
#include "Tokens.h"

namespace standin {
namespace {

constexpr std::uint16_t kNoMetadata = 0x02;  // RPC option: reuse the cursor's COLMETADATA

// Keeps what a statement produced, to be looked at before it is sent.
class CollectingSink : public ResultSink {
public:
    void result(ResultSet&& rs) override { results.push_back(std::move(rs)); }
    void message(const Message& m) override {
        messages.push_back(m);
        failed = failed || m.isError();
    }
    void databaseChanged(const std::u16string&, const std::u16string&) override {}
    void statementDone(std::uint16_t, std::uint16_t, std::uint64_t) override {}

    std::vector<ResultSet> results;
    std::vector<Message> messages;
    bool failed = false;
};

std::u16string procedureName(const RpcCall& c) {
    static const char16_t* byId[] = {u"",
                                     u"sp_cursor",
                                     u"sp_cursoropen",
                                     u"sp_cursorprepare",
                                     u"sp_cursorexecute",
                                     u"sp_cursorprepexec",
                                     u"sp_cursorunprepare",
                                     u"sp_cursorfetch",
                                     u"sp_cursoroption",
                                     u"sp_cursorclose",
                                     u"sp_executesql",
                                     u"sp_prepare",
                                     u"sp_execute",
                                     u"sp_prepexec",
                                     u"sp_prepexecrpc",
                                     u"sp_unprepare"};
    if (c.procName.empty())
        return c.procId < std::size(byId) ? byId[c.procId] : u"";
    // By name: any case, possibly qualified (master..sp_x, dbo.sp_x) or bracketed.
    std::u16string n = foldCase(c.procName);
    if (auto dot = n.rfind(u'.'); dot != std::u16string::npos)
        n.erase(0, dot + 1);
    if (n.size() >= 2 && n.front() == u'[' && n.back() == u']')
        n = n.substr(1, n.size() - 2);
    return n;
}

const TypedValue* param(const RpcCall& c, std::size_t i) {
    return i < c.params.size() ? &c.params[i].value : nullptr;
}

std::optional<std::u16string> textParam(const RpcCall& c, std::size_t i) {
    const TypedValue* p = param(c, i);
    if (!p || isNull(p->value) || p->type.type != SqlType::NVarChar)
        return std::nullopt;
    return std::get<std::u16string>(p->value);
}

std::optional<std::int64_t> intParam(const RpcCall& c, std::size_t i) {
    const TypedValue* p = param(c, i);
    if (!p || isNull(p->value) || !p->type.isInteger())
        return std::nullopt;
    return std::get<std::int64_t>(p->value);
}

Variables variablesFrom(const RpcCall& c, std::size_t first,
                        const std::vector<std::u16string>& declared) {
    Variables vars;
    for (std::size_t i = first; i < c.params.size(); ++i) {
        std::u16string name = c.params[i].name;
        if (name.empty() && i - first < declared.size())
            name = declared[i - first];
        if (!name.empty())
            vars.emplace_back(std::move(name), c.params[i].value);
    }
    return vars;
}

SqlError missingParameter(const std::u16string& proc, const char16_t* name) {
    return SqlError{201, 16,
                    u"Procedure or function '" + proc + u"' expects parameter '" + name +
                        u"', which was not supplied."};
}

}  // namespace

std::vector<std::u16string> declaredParameters(std::u16string_view definition) {
    std::vector<std::u16string> names;
    Lexer lex(definition);
    int depth = 0;
    bool expectName = true;
    for (Token t = lex.next(); t.kind != Token::Kind::End && t.kind != Token::Kind::Error;
         t = lex.next()) {
        if (lex.is(t, "("))
            ++depth;
        if (lex.is(t, ")"))
            --depth;
        if (depth == 0 && lex.is(t, ",")) {
            expectName = true;
            continue;
        }
        if (expectName && t.kind == Token::Kind::Variable)
            names.push_back(foldCase(lex.text(t)));
        expectName = false;
    }
    return names;
}

Session::Session(ServerState& server, EventLog* log, int spid) : server_(server), log_(log) {
    state_.spid = spid;
    if (log_)
        log_->write(spid, "connect");
}

Session::~Session() {
    if (phase_ == Phase::Ready) {
        std::lock_guard lock(server_.mutex);
        server_.sessionDatabase.erase(state_.spid);
    }
    if (log_)
        log_->write(state_.spid, "end");
}

Session::Reply Session::frame(const Bytes& payload, bool close) const {
    return Reply{framePackets(PacketType::Reply, payload, packetSize_,
                              static_cast<std::uint16_t>(state_.spid)),
                 close};
}

Session::Reply Session::handle(Request m) {
    const auto type = static_cast<PacketType>(m.type);
    if (phase_ != Phase::Ready) {
        if (type == PacketType::Prelogin && phase_ == Phase::Prelogin) {
            if (!isValidPrelogin(m.payload))
                return Reply{{}, true};
            phase_ = Phase::Login;
            return frame(preloginReply());
        }
        if (type == PacketType::Login7)
            return login(m);
        if (type == PacketType::Attention)
            return {};
        return Reply{{}, true};  // includes TDS 4.2/5.0 logins
    }
    switch (type) {
        case PacketType::SqlBatch:
            return batch(m);
        case PacketType::Rpc:
            return rpc(m);
        case PacketType::Attention: {
            if (log_)
                log_->write(state_.spid, "attention");
            Bytes out;
            TokenWriter(out).done(TokenWriter::DoneKind::Done, done::kAttention, 0, 0);
            return frame(out);
        }
        default:
            return Reply{{}, true};
    }
}

Session::Reply Session::login(const Request& m) {
    auto l = decodeLogin7(m.payload);
    if (!l)
        return Reply{{}, true};
    const ServerConfig& config = server_.config;
    Bytes out;
    TokenWriter w(out);
    auto refuse = [&](std::optional<Message> first, const char* why) {
        if (first)
            w.message(*first, config.serverName);
        w.message(Message{18456, 1, 14, u"Login failed for user '" + l->userName + u"'.", 1},
                  config.serverName);
        w.done(TokenWriter::DoneKind::Done, done::kError, 0, 0);
        if (log_)
            log_->write(state_.spid, "login-failed",
                        u"user=" + l->userName + u" reason=" + fromUtf8(why));
        return frame(out, true);
    };
    if (!equalsIgnoreCase(l->userName, config.login) || l->password != config.password)
        return refuse(std::nullopt, "password");
    std::u16string database = l->database.empty() ? u"master" : l->database;
    {
        std::lock_guard lock(server_.mutex);
        Database* db = server_.catalog.find(database);
        if (!db) {
            return refuse(Message{4060, 1, 11,
                                  u"Cannot open database \"" + database +
                                      u"\" requested by the login. The login failed.",
                                  1},
                          "database");
        }
        state_.database = db->name();
        server_.sessionDatabase[state_.spid] = db->name();
    }
    // Clients that set the ODBC flag get QUOTED_IDENTIFIER on, the others off.
    state_.quotedIdentifier = (l->optionFlags2 & 0x02) != 0;
    const std::u16string serverName = config.serverName;
    w.envChange(1, state_.database, u"master");
    w.message(Message{5701, 2, 0, u"Changed database context to '" + state_.database + u"'.", 1},
              serverName);
    w.envChangeCollation(kCollation);
    w.envChange(2, u"us_english", u"");
    w.message(Message{5703, 1, 0, u"Changed language setting to us_english.", 1}, serverName);
    const std::uint8_t version[4] = {10, 50, 0x06, 0x40};
    w.loginAck(u"Microsoft SQL Server", version);
    std::size_t requested =
        l->packetSize == 0 ? 4096 : std::clamp<std::size_t>(l->packetSize, 512, 32767);
    w.envChange(4, fromUtf8(std::to_string(requested)), u"4096");
    w.done(TokenWriter::DoneKind::Done, 0, 0, 0);
    phase_ = Phase::Ready;
    if (log_)
        log_->write(
            state_.spid, "login",
            u"user=" + l->userName + u" database=" + state_.database + u" app=" + l->appName);
    Reply reply = frame(out);
    packetSize_ = requested;
    return reply;
}

Session::Reply Session::batch(Request& m) {
    auto text = decodeBatch(m.payload);
    if (!text)
        return Reply{{}, true};
    m.payload = {};
    if (log_)
        log_->write(state_.spid, "batch", *text);
    Bytes out;
    TokenStream ts(out, TokenStream::Mode::Batch, server_.config.serverName);
    Executor ex(server_, state_, ts, log_);
    ex.runText(*text);
    ts.finish();
    return frame(out, ex.fatal());
}

Session::Reply Session::rpc(const Request& m) {
    auto calls = decodeRpc(m.payload);
    Bytes out;
    if (!calls) {
        TokenStream ts(out, TokenStream::Mode::Batch, server_.config.serverName);
        ts.message(Message{8009, 1, 16,
                           u"The incoming tabular data stream (TDS) remote procedure call (RPC) "
                           u"protocol stream is "
                           u"incorrect.",
                           1});
        ts.statementDone(done::kError, 0, 0);
        ts.finish();
        if (log_)
            log_->write(state_.spid, "error", u"8009 malformed RPC");
        return frame(out);
    }
    for (std::size_t i = 0; i < calls->size() && !fatal_; ++i) {
        std::size_t before = out.size();
        call((*calls)[i], out);
        // Every DONEPROC but the last says more follows.
        if (i + 1 < calls->size() && out.size() >= before + 13)
            out[out.size() - 12] |= done::kMore;
    }
    return frame(out, fatal_);
}

void Session::call(RpcCall& c, Bytes& out) {
    const std::u16string name = procedureName(c);
    TokenStream ts(out, TokenStream::Mode::InProc, server_.config.serverName);
    if (log_) {
        // The statement text where the procedure takes one, else the handle.
        std::optional<std::u16string> text = name == u"sp_cursoropen"   ? textParam(c, 1)
                                             : name == u"sp_executesql" ? textParam(c, 0)
                                             : name == u"sp_prepare" || name == u"sp_prepexec"
                                                 ? textParam(c, 2)
                                                 : std::nullopt;
        std::u16string detail = name;
        if (text)
            detail += u" " + *text;
        else if (auto h = intParam(c, 0))
            detail += u" " + fromUtf8(std::to_string(*h));
        log_->write(state_.spid, "rpc", detail);
    }
    if (name == u"sp_cursoropen")
        return cursorOpen(c, ts);
    if (name == u"sp_cursorfetch")
        return cursorFetch(c, ts);
    if (name == u"sp_cursoroption")
        return procDone(ts);
    if (name == u"sp_cursorclose")
        return cursorClose(c, ts);
    if (name == u"sp_executesql")
        return executeSql(c, ts);
    if (name == u"sp_prepare")
        return prepare(c, ts, false);
    if (name == u"sp_prepexec")
        return prepare(c, ts, true);
    if (name == u"sp_execute")
        return executePrepared(c, ts);
    if (name == u"sp_unprepare")
        return unprepare(c, ts);
    procError(ts, SqlError{2812, 16,
                           u"Could not find stored procedure '" +
                               (c.procName.empty() ? name : c.procName) + u"'."});
}

void Session::procError(TokenStream& ts, const SqlError& e) {
    Executor(server_, state_, ts, log_).reportError(e, 1);
    ts.finish();
    ts.writer().done(TokenWriter::DoneKind::DoneProc, done::kError, 0, 0);
}

void Session::procDone(TokenStream& ts, std::uint16_t status) {
    ts.finish();
    ts.writer().returnStatus(0);
    ts.writer().done(TokenWriter::DoneKind::DoneProc, status, 0, 0);
}

void Session::cursorOpen(RpcCall& c, TokenStream& ts) {
    auto text = textParam(c, 1);
    if (!text)
        return procError(ts, missingParameter(u"sp_cursoropen", u"@stmt"));
    auto parsed = parseBatch(*text, state_.quotedIdentifier);
    if (auto* pe = std::get_if<ParseError>(&parsed)) {
        Executor(server_, state_, ts, log_).reportError(pe->error, pe->line);
        ts.finish();
        ts.writer().done(TokenWriter::DoneKind::DoneProc, done::kError, 0, 0);
        return;
    }
    auto& statements = std::get<ParsedBatch>(parsed).statements;
    const std::int32_t scrollOpt = static_cast<std::int32_t>(intParam(c, 2).value_or(8));
    const std::int32_t ccOpt = static_cast<std::int32_t>(intParam(c, 3).value_or(1));
    auto& w = ts.writer();
    if (statements.size() == 1 && std::holds_alternative<stmt::Select>(statements[0].body)) {
        // A query gets a cursor that keeps its rows until sp_cursorclose.
        CollectingSink sink;
        Executor ex(server_, state_, sink, log_);
        ex.run(statements);
        if (sink.failed || sink.results.size() != 1) {
            for (const auto& msg : sink.messages)
                ts.message(msg);
            ts.statementDone(done::kError, 0, 0);
            ts.finish();
            w.done(TokenWriter::DoneKind::DoneProc, done::kError, 0, 0);
            return;
        }
        ResultSet& rs = sink.results[0];
        const std::int32_t handle = nextCursor_++;
        const auto rows =
            static_cast<std::int32_t>(std::min<std::size_t>(rs.rows.size(), INT32_MAX));
        w.colMetadata(rs.columns);
        w.done(TokenWriter::DoneKind::DoneInProc, done::kMore, 0, 0);
        w.returnStatus(0);
        w.returnValueInt(0, handle);
        w.returnValueInt(2, scrollOpt);
        w.returnValueInt(3, ccOpt);
        w.returnValueInt(4, rows);
        w.done(TokenWriter::DoneKind::DoneProc, 0, 0, 0);
        cursors_[handle] = Cursor{std::move(rs)};
        return;
    }
    // Anything else runs directly (the client allowed it) and gets handle 0.
    Executor ex(server_, state_, ts, log_);
    ex.run(statements);
    fatal_ = ex.fatal();
    ts.finish();
    w.returnStatus(0);
    w.returnValueInt(0, 0);
    w.returnValueInt(2, scrollOpt);
    w.returnValueInt(3, ccOpt);
    w.returnValueInt(4, -1);
    w.done(TokenWriter::DoneKind::DoneProc, ts.sawError() ? done::kError : 0, 0, 0);
}

void Session::cursorFetch(RpcCall& c, TokenStream& ts) {
    auto handle = intParam(c, 0);
    auto it = handle ? cursors_.find(static_cast<std::int32_t>(*handle)) : cursors_.end();
    if (it == cursors_.end())
        return procError(ts, SqlError{16945, 16, u"The cursor was not declared."});
    Cursor& cur = it->second;
    const auto total = static_cast<std::int64_t>(cur.rows.rows.size());
    const std::int64_t type = intParam(c, 1).value_or(2);
    const std::int64_t rownum = intParam(c, 2).value_or(0);
    std::int64_t n = std::max<std::int64_t>(1, intParam(c, 3).value_or(1));
    std::int64_t start;
    switch (type) {
        case 0x01:
            start = 0;
            break;  // FIRST
        case 0x02:
            start = cur.position < 0 ? 0 : cur.position + cur.blockSize;
            break;  // NEXT
        case 0x04:  // PRIOR
            start = (cur.position < 0 ? 0 : cur.position) - n;
            if (start < 0) {
                n += start;
                start = 0;
            }
            break;
        case 0x08:
            start = std::max<std::int64_t>(0, total - n);
            break;  // LAST
        case 0x10:
            start = rownum > 0 ? rownum - 1 : rownum < 0 ? total + rownum : -1;
            break;  // ABSOLUTE
        case 0x20:
            start = (cur.position < 0 ? -1 : cur.position) + rownum;
            break;  // RELATIVE
        default:
            start = total;
            break;
    }
    const std::int64_t from = std::clamp<std::int64_t>(start, 0, total);
    const std::int64_t to = start < 0 ? from : std::clamp<std::int64_t>(start + n, from, total);
    cur.position = std::clamp<std::int64_t>(start, -1, total);
    cur.blockSize = n;
    auto& w = ts.writer();
    if (c.options & kNoMetadata)
        w.noMetadata();
    else
        w.colMetadata(cur.rows.columns);
    for (std::int64_t i = from; i < to; ++i)
        w.row(cur.rows.columns, cur.rows.rows[static_cast<std::size_t>(i)]);
    w.done(TokenWriter::DoneKind::DoneInProc, done::kMore | done::kCount, 0,
           static_cast<std::uint64_t>(to - from));
    w.returnStatus(0);
    w.done(TokenWriter::DoneKind::DoneProc, 0, 0, 0);
}

void Session::cursorClose(RpcCall& c, TokenStream& ts) {
    auto handle = intParam(c, 0);
    if (!handle || cursors_.erase(static_cast<std::int32_t>(*handle)) == 0)
        return procError(ts, SqlError{16945, 16, u"The cursor was not declared."});
    procDone(ts);
}

void Session::executeSql(RpcCall& c, TokenStream& ts) {
    auto text = textParam(c, 0);
    if (!text)
        return procError(ts, missingParameter(u"sp_executesql", u"@statement"));
    auto declared = declaredParameters(textParam(c, 1).value_or(u""));
    Executor ex(server_, state_, ts, log_);
    ex.runText(*text, variablesFrom(c, 2, declared));
    fatal_ = ex.fatal();
    procDone(ts, ts.sawError() ? done::kError : 0);
}

void Session::prepare(RpcCall& c, TokenStream& ts, bool execute) {
    const std::u16string proc = execute ? u"sp_prepexec" : u"sp_prepare";
    auto text = textParam(c, 2);
    if (!text)
        return procError(ts, missingParameter(proc, u"@stmt"));
    auto parsed = parseBatch(*text, state_.quotedIdentifier);
    if (auto* pe = std::get_if<ParseError>(&parsed)) {
        Executor(server_, state_, ts, log_).reportError(pe->error, pe->line);
        ts.finish();
        ts.writer().done(TokenWriter::DoneKind::DoneProc, done::kError, 0, 0);
        return;
    }
    const std::int32_t handle = nextPrepared_++;
    Prepared p{*text, declaredParameters(textParam(c, 1).value_or(u""))};
    auto& statements = std::get<ParsedBatch>(parsed).statements;
    if (execute) {
        Executor ex(server_, state_, ts, log_);
        ex.run(statements, variablesFrom(c, 3, p.paramNames));
        fatal_ = ex.fatal();
    } else if (statements.size() == 1 && std::holds_alternative<stmt::Select>(statements[0].body)) {
        // Describe the result without sending rows, so that clients learn
        // the columns before executing.
        CollectingSink sink;
        Executor(server_, state_, sink, log_).run(statements);
        if (sink.results.size() == 1)
            ts.writer().colMetadata(sink.results[0].columns);
    }
    prepared_[handle] = std::move(p);
    ts.finish();
    ts.writer().returnStatus(0);
    ts.writer().returnValueInt(0, handle);
    ts.writer().done(TokenWriter::DoneKind::DoneProc, ts.sawError() ? done::kError : 0, 0, 0);
}

void Session::executePrepared(RpcCall& c, TokenStream& ts) {
    auto handle = intParam(c, 0);
    auto it = handle ? prepared_.find(static_cast<std::int32_t>(*handle)) : prepared_.end();
    if (it == prepared_.end())
        return procError(ts, SqlError{8179, 16,
                                      u"Could not find prepared statement with handle " +
                                          fromUtf8(std::to_string(handle.value_or(0))) + u"."});
    Executor ex(server_, state_, ts, log_);
    ex.runText(it->second.text, variablesFrom(c, 1, it->second.paramNames));
    fatal_ = ex.fatal();
    procDone(ts, ts.sawError() ? done::kError : 0);
}

void Session::unprepare(RpcCall& c, TokenStream& ts) {
    if (auto handle = intParam(c, 0))
        prepared_.erase(static_cast<std::int32_t>(*handle));
    procDone(ts);
}

}  // namespace standin
