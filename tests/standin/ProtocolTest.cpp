// The TDS side of the stand-in: framing, request decoding and the replies
// a session sends, checked at the byte level.
#include <gtest/gtest.h>

#include "standin/Packets.h"
#include "standin/Requests.h"
#include "standin/Session.h"
#include "standin/Tokens.h"

using namespace standin;

namespace {

Bytes frame(PacketType type, const Bytes& payload, std::size_t packetSize = 4096) {
    return framePackets(type, payload, packetSize, 0);
}

Bytes allHeaders() {
    Bytes b;
    ByteWriter w(b);
    w.u32(22);
    w.u32(18);
    w.u16(2);  // transaction descriptor header
    w.u64(0);
    w.u32(1);
    return b;
}

// A LOGIN7 as clients build it.
Bytes login7(std::u16string_view user, std::u16string_view password,
             std::u16string_view database = u"", std::uint8_t optionFlags2 = 0x03) {
    std::vector<std::u16string_view> fields = {u"host", user,   password, u"app",  u"127.0.0.1",
                                               u"",     u"lib", u"",      database};
    Bytes strings;
    Bytes fixed(94, 0);
    std::size_t at = 94;
    const std::size_t positions[] = {36, 40, 44, 48, 52, 56, 60, 64, 68};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        Bytes s;
        ByteWriter(s).utf16(fields[i]);
        if (i == 2)  // password: nibbles swapped, then XOR 0xA5
            for (auto& b : s)
                b = static_cast<std::uint8_t>(((b << 4) | (b >> 4)) ^ 0xA5);
        fixed[positions[i]] = static_cast<std::uint8_t>(at);
        fixed[positions[i] + 1] = static_cast<std::uint8_t>(at >> 8);
        fixed[positions[i] + 2] = static_cast<std::uint8_t>(fields[i].size());
        strings.insert(strings.end(), s.begin(), s.end());
        at += s.size();
    }
    fixed[4] = 0x04, fixed[7] = 0x74;  // TDS 7.4
    fixed[9] = 0x10;                   // packet size 4096
    fixed[25] = optionFlags2;
    fixed.insert(fixed.end(), strings.begin(), strings.end());
    fixed[0] = static_cast<std::uint8_t>(fixed.size());
    fixed[1] = static_cast<std::uint8_t>(fixed.size() >> 8);
    return fixed;
}

struct RpcBuilder {
    Bytes b = allHeaders();
    ByteWriter w{b};
    explicit RpcBuilder(std::uint16_t procId, std::uint16_t options = 0) {
        w.u16(0xFFFF);
        w.u16(procId);
        w.u16(options);
    }
    RpcBuilder& intParam(std::optional<std::int32_t> v, bool output = false) {
        w.u8(0);
        w.u8(output ? 1 : 0);
        w.u8(0x26);
        w.u8(4);
        w.u8(v ? 4 : 0);
        if (v)
            w.u32(static_cast<std::uint32_t>(*v));
        return *this;
    }
    RpcBuilder& ntextParam(std::u16string_view s) {
        w.u8(0);
        w.u8(0);
        w.u8(0x63);
        w.u32(0x7FFFFFFF);
        w.bytes(kCollation);
        w.u32(static_cast<std::uint32_t>(2 * s.size()));
        w.utf16(s);
        return *this;
    }
    RpcBuilder& plpParam(std::u16string_view name, std::u16string_view s) {
        w.bVarchar(name);
        w.u8(0);
        w.u8(0xE7);
        w.u16(0xFFFF);
        w.bytes(kCollation);
        w.u64(2 * s.size());
        w.u32(static_cast<std::uint32_t>(2 * s.size()));
        w.utf16(s);
        w.u32(0);
        return *this;
    }
};

// The tokens of a reply, decoded as far as these tests need.
struct Token {
    std::uint8_t type;
    std::vector<std::int64_t> ints;  // ROW values (int columns) or the RETURNVALUE
    std::uint16_t status = 0;
    std::uint64_t count = 0;
    std::int32_t number = 0;  // INFO/ERROR
};

// `columns`: the int columns of rows that come without COLMETADATA (cursor fetches).
std::vector<Token> tokens(const Bytes& packets, std::size_t columns = 0) {
    MessageAssembler in;
    in.feed(packets);
    Bytes payload;
    while (auto m = in.next())
        payload.insert(payload.end(), m->payload.begin(), m->payload.end());
    ByteReader r(payload);
    std::vector<Token> out;
    while (r.ok() && !r.atEnd()) {
        Token t{r.u8(), {}};
        switch (t.type) {
            case 0x81: {
                std::uint16_t count = r.u16();
                if (count == 0xFFFF)
                    break;
                columns = count;
                for (std::size_t i = 0; i < columns; ++i) {
                    r.skip(6);
                    EXPECT_EQ(r.u8(), 0x26) << "only int columns are decoded here";
                    r.skip(1);
                    r.skip(2 * r.u8());
                }
                break;
            }
            case 0xD1:
                for (std::size_t i = 0; i < columns; ++i) {
                    auto v = r.take(r.u8());
                    std::int64_t x = 0;
                    for (std::size_t k = 0; k < v.size(); ++k)
                        x |= std::int64_t{v[k]} << (8 * k);
                    t.ints.push_back(x);
                }
                break;
            case 0xFD:
            case 0xFE:
            case 0xFF:
                t.status = r.u16();
                r.skip(2);
                t.count = r.u64();
                break;
            case 0x79:
                t.ints.push_back(static_cast<std::int32_t>(r.u32()));
                break;
            case 0xAC: {
                r.skip(2);
                r.skip(2 * r.u8());
                r.skip(1 + 4 + 2 + 2);
                auto v = r.take(r.u8());
                std::int64_t x = 0;
                for (std::size_t k = 0; k < v.size(); ++k)
                    x |= std::int64_t{v[k]} << (8 * k);
                t.ints.push_back(v.size() == 4 ? static_cast<std::int32_t>(x) : x);
                break;
            }
            case 0xAA:
            case 0xAB: {
                std::uint16_t len = r.u16();
                std::size_t end = r.pos() + len;
                t.number = static_cast<std::int32_t>(r.u32());
                r.seek(end);
                break;
            }
            case 0xE3:
            case 0xAD:
                r.skip(r.u16());
                break;
            default:
                ADD_FAILURE() << "unexpected token " << int(t.type);
                return out;
        }
        out.push_back(t);
    }
    EXPECT_TRUE(r.ok());
    return out;
}

std::vector<std::uint8_t> types(const std::vector<Token>& ts) {
    std::vector<std::uint8_t> out;
    for (const auto& t : ts)
        out.push_back(t.type);
    return out;
}

struct LoggedIn {
    ServerState state{ServerConfig{u"sa", u"pw", u"v", u"TESTSRV"}};
    Session session{state, nullptr, 51};
    LoggedIn() {
        auto reply = session.handle(Request{0x10, login7(u"SA", u"pw")});
        EXPECT_FALSE(reply.close);
    }
    std::vector<Token> send(PacketType type, const Bytes& payload, std::size_t columns = 0) {
        return tokens(session.handle(Request{static_cast<std::uint8_t>(type), payload}).packets,
                      columns);
    }
    std::vector<Token> batch(std::u16string_view sql) {
        Bytes p = allHeaders();
        ByteWriter(p).utf16(sql);
        return send(PacketType::SqlBatch, p);
    }
};

TEST(StandinPackets, MessagesAreReassembledFromAnyChunking) {
    Bytes payload(10000);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i * 7);
    Bytes stream = frame(PacketType::SqlBatch, payload, 4096);
    ASSERT_EQ(stream.size(), payload.size() + 3 * kPacketHeaderSize);
    Bytes attention = frame(PacketType::Attention, {});
    stream.insert(stream.end(), attention.begin(), attention.end());

    for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, stream.size()}) {
        SCOPED_TRACE(chunk);
        MessageAssembler in;
        std::vector<Request> got;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            in.feed(std::span(stream).subspan(at, std::min(chunk, stream.size() - at)));
            while (auto m = in.next())
                got.push_back(std::move(*m));
        }
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].type, 0x01);
        EXPECT_EQ(got[0].payload, payload);
        EXPECT_EQ(got[1].type, 0x06);
        EXPECT_FALSE(in.broken());
    }
}

TEST(StandinPackets, ImpossibleLengthsBreakTheStream) {
    for (Bytes bad :
         {Bytes{0x01, 0x01, 0x00, 0x04, 0, 0, 1, 0}, Bytes{0x01, 0x01, 0xFF, 0xFF, 0, 0, 1, 0}}) {
        MessageAssembler in(32768);
        in.feed(bad);
        EXPECT_FALSE(in.next());
        EXPECT_TRUE(in.broken());
    }
}

TEST(StandinPackets, AttentionIsSeenBehindAPendingRequest) {
    MessageAssembler in;
    Bytes stream = frame(PacketType::SqlBatch, Bytes(10, 'x'));
    Bytes attention = frame(PacketType::Attention, {});
    stream.insert(stream.end(), attention.begin(), attention.end());
    in.feed(stream);
    EXPECT_TRUE(in.attentionPending());
}

TEST(StandinRequests, Login7FieldsAndPassword) {
    auto l = decodeLogin7(login7(u"sa", u"Quill-测试-1", u"Shop"));
    ASSERT_TRUE(l);
    EXPECT_EQ(l->tdsVersion, 0x74000004u);
    EXPECT_EQ(l->packetSize, 4096u);
    EXPECT_EQ(l->userName, u"sa");
    EXPECT_EQ(l->password, u"Quill-测试-1");
    EXPECT_EQ(l->database, u"Shop");
    EXPECT_EQ(l->appName, u"app");

    Bytes truncated = login7(u"sa", u"pw");
    truncated.resize(truncated.size() - 2);  // a string now runs past the end
    EXPECT_FALSE(decodeLogin7(truncated));
    EXPECT_FALSE(decodeLogin7(Bytes(50, 0)));
}

TEST(StandinRequests, RpcCallsAndParameters) {
    RpcBuilder rpc(2, 0);
    rpc.intParam(std::nullopt, true)
        .ntextParam(u"select 1")
        .intParam(8, true)
        .intParam(0x2001, true)
        .intParam(0, true);
    rpc.w.u8(0xFF);  // a second call in the same request, by name
    rpc.w.u16(13);
    rpc.w.utf16(u"sp_executesql");
    rpc.w.u16(0);
    rpc.plpParam(u"@statement", u"select N'中文'");
    auto calls = decodeRpc(rpc.b);
    ASSERT_TRUE(calls);
    ASSERT_EQ(calls->size(), 2u);
    const RpcCall& open = (*calls)[0];
    EXPECT_EQ(open.procId, 2);
    ASSERT_EQ(open.params.size(), 5u);
    EXPECT_TRUE(open.params[0].output);
    EXPECT_TRUE(isNull(open.params[0].value.value));
    EXPECT_EQ(std::get<std::u16string>(open.params[1].value.value), u"select 1");
    EXPECT_EQ(std::get<std::int64_t>(open.params[3].value.value), 0x2001);
    const RpcCall& exec = (*calls)[1];
    EXPECT_EQ(exec.procName, u"sp_executesql");
    EXPECT_EQ(exec.params.at(0).name, u"@statement");
    EXPECT_EQ(std::get<std::u16string>(exec.params[0].value.value), u"select N'中文'");

    Bytes cut = rpc.b;
    cut.resize(cut.size() - 3);
    EXPECT_FALSE(decodeRpc(cut));
}

TEST(StandinRequests, DeclaredParameterNames) {
    EXPECT_EQ(declaredParameters(u"@a int, @B nvarchar(10), @c decimal(10, 2) OUTPUT"),
              (std::vector<std::u16string>{u"@a", u"@b", u"@c"}));
}

TEST(StandinSession, PreloginAnswersEncryptionNotSupported) {
    ServerState state{ServerConfig{}};
    Session session(state, nullptr, 51);
    Bytes hello = {0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00,
                   0x01, 0xFF, 9,    0,    0,    0,    0,    0,    0x00};
    auto reply = session.handle(Request{0x12, hello});
    MessageAssembler in;
    in.feed(reply.packets);
    auto m = in.next();
    ASSERT_TRUE(m);
    ASSERT_TRUE(isValidPrelogin(m->payload));
    // The ENCRYPTION option's data byte: ENCRYPT_NOT_SUP.
    std::size_t offset = m->payload[5 + 1] << 8 | m->payload[5 + 2];
    EXPECT_EQ(m->payload[5], 0x01);
    EXPECT_EQ(m->payload[offset], 0x02);
    EXPECT_TRUE(session.handle(Request{0x12, hello}).close);  // only once
}

TEST(StandinSession, LoginOutcomes) {
    struct Case {
        std::u16string user, password, database;
        std::vector<std::int32_t> errors;
    };
    const Case cases[] = {
        {u"sa", u"pw", u"", {}},
        {u"SA", u"pw", u"master", {}},
        {u"sa", u"PW", u"", {18456}},
        {u"bob", u"pw", u"", {18456}},
        {u"sa", u"pw", u"Nowhere", {4060, 18456}},
    };
    for (const auto& c : cases) {
        ServerState state{ServerConfig{u"sa", u"pw", u"v", u"S"}};
        Session session(state, nullptr, 51);
        auto reply = session.handle(Request{0x10, login7(c.user, c.password, c.database)});
        std::vector<std::int32_t> errors;
        auto ts = tokens(reply.packets);
        for (const auto& t : ts)
            if (t.type == 0xAA)
                errors.push_back(t.number);
        EXPECT_EQ(errors, c.errors);
        EXPECT_EQ(reply.close, !c.errors.empty());
        EXPECT_EQ(ts.back().type, 0xFD);
        EXPECT_EQ(ts.back().status, c.errors.empty() ? 0 : done::kError);
        EXPECT_EQ(state.sessionDatabase.size(), c.errors.empty() ? 1u : 0u);
    }
}

TEST(StandinSession, BatchDonesCarryMoreUntilTheLast) {
    LoggedIn s;
    s.state.catalog.create(u"Db").addTable(u"dbo", u"t", 0, {}, DateTime{});
    auto ts = s.batch(u"use Db; insert t values (1); insert t values (2), (3); print 'x'");
    EXPECT_EQ(types(ts), (std::vector<std::uint8_t>{0xE3, 0xAB, 0xFD, 0xFD, 0xAB, 0xFD}));
    EXPECT_EQ(ts[2].status, done::kMore | done::kCount);
    EXPECT_EQ(ts[2].count, 1u);
    EXPECT_EQ(ts[3].count, 2u);
    EXPECT_EQ(ts[5].status, 0);

    auto error = s.batch(u"select * from nope");
    EXPECT_EQ(types(error), (std::vector<std::uint8_t>{0xAA, 0xFD}));
    EXPECT_EQ(error[1].status, done::kError);

    auto attention = s.send(PacketType::Attention, {});
    ASSERT_EQ(attention.size(), 1u);
    EXPECT_EQ(attention[0].status, done::kAttention);
}

TEST(StandinSession, CursorFetchPositions) {
    LoggedIn s;
    RpcBuilder open(2);
    open.intParam(std::nullopt, true)
        .ntextParam(
            u"select 1 AS n union all select 2 union all select 3 union all select 4 union all "
            u"select 5")
        .intParam(8, true)
        .intParam(0x2001, true)
        .intParam(0, true);
    auto opened = s.send(PacketType::Rpc, open.b);
    ASSERT_EQ(types(opened),
              (std::vector<std::uint8_t>{0x81, 0xFF, 0x79, 0xAC, 0xAC, 0xAC, 0xAC, 0xFE}));
    const std::int32_t handle = static_cast<std::int32_t>(opened[3].ints.at(0));
    EXPECT_NE(handle, 0);
    EXPECT_EQ(opened[6].ints.at(0), 5);  // rows

    struct Fetch {
        int type, rownum, nrows;
        std::vector<std::int64_t> rows;
    };
    const Fetch fetches[] = {
        {0x02, 0, 1, {1}},
        {0x02, 0, 1, {2}},
        {0x02, 0, 2, {3, 4}},
        {0x02, 0, 2, {5}},
        {0x02, 0, 1, {}},
        {0x01, 0, 1, {1}},
        {0x08, 0, 2, {4, 5}},
        {0x04, 0, 1, {3}},
        {0x10, 2, 1, {2}},
        {0x20, 2, 1, {4}},
        {0x10, -1, 1, {5}},
        {0x10, 9, 1, {}},
        {0x01, 0, 9, {1, 2, 3, 4, 5}},
    };
    for (const auto& f : fetches) {
        SCOPED_TRACE(testing::Message()
                     << "type " << f.type << " rownum " << f.rownum << " nrows " << f.nrows);
        RpcBuilder fetch(7, 0x02);
        fetch.intParam(handle).intParam(f.type).intParam(f.rownum).intParam(f.nrows);
        std::vector<std::int64_t> rows;
        auto ts = s.send(PacketType::Rpc, fetch.b, 1);
        for (const auto& t : ts)
            if (t.type == 0xD1)
                rows.push_back(t.ints.at(0));
        EXPECT_EQ(rows, f.rows);
        EXPECT_EQ(ts.back().type, 0xFE);
    }

    RpcBuilder close(9, 0x02);
    close.intParam(handle);
    EXPECT_EQ(s.send(PacketType::Rpc, close.b).back().status, 0);
    RpcBuilder again(7, 0x02);
    again.intParam(handle).intParam(2).intParam(std::nullopt).intParam(1);
    auto gone = s.send(PacketType::Rpc, again.b);
    EXPECT_EQ(gone.front().number, 16945);
    EXPECT_EQ(gone.back().status, done::kError);
}

TEST(StandinSession, CursorOpenRunsOtherStatementsDirectly) {
    LoggedIn s;
    RpcBuilder open(2);
    open.intParam(std::nullopt, true)
        .ntextParam(u"print 'a'; create database x")
        .intParam(8, true)
        .intParam(0x2001, true)
        .intParam(0, true);
    auto ts = s.send(PacketType::Rpc, open.b);
    EXPECT_EQ(types(ts), (std::vector<std::uint8_t>{0xAB, 0x79, 0xAC, 0xAC, 0xAC, 0xAC, 0xFE}));
    EXPECT_EQ(ts[2].ints.at(0), 0);  // no cursor
    EXPECT_NE(s.state.catalog.find(u"x"), nullptr);

    RpcBuilder bad(2);
    bad.intParam(std::nullopt, true)
        .ntextParam(u"select * from nowhere")
        .intParam(8, true)
        .intParam(0x2001, true)
        .intParam(0, true);
    auto failed = s.send(PacketType::Rpc, bad.b);
    EXPECT_EQ(types(failed), (std::vector<std::uint8_t>{0xAA, 0xFF, 0xFE}));
    EXPECT_EQ(failed[1].status & done::kError, done::kError);
    EXPECT_EQ(failed[2].status, done::kError);
}

TEST(StandinSession, ExecuteSqlWithParameters) {
    LoggedIn s;
    RpcBuilder rpc(10);
    rpc.plpParam(u"", u"select @a + 1 AS n").plpParam(u"", u"@a int");
    rpc.w.bVarchar(u"@a");
    rpc.w.u8(0);
    rpc.w.u8(0x26);
    rpc.w.u8(4);
    rpc.w.u8(4);
    rpc.w.u32(41);
    auto ts = s.send(PacketType::Rpc, rpc.b);
    EXPECT_EQ(types(ts), (std::vector<std::uint8_t>{0x81, 0xD1, 0xFF, 0x79, 0xFE}));
    EXPECT_EQ(ts[1].ints.at(0), 42);
}

TEST(StandinSession, UnknownProceduresAndMalformedRpc) {
    LoggedIn s;
    Bytes byName = allHeaders();
    ByteWriter w(byName);
    w.u16(7);
    w.utf16(u"sp_nope");
    w.u16(0);
    auto ts = s.send(PacketType::Rpc, byName);
    EXPECT_EQ(ts.front().number, 2812);
    Bytes junk = allHeaders();
    junk.push_back(0x05);
    EXPECT_EQ(s.send(PacketType::Rpc, junk).front().number, 8009);
}

}  // namespace
