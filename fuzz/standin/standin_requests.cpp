// Arbitrary bytes as a client's packet stream into a stand-in session: it
// must answer or hang up, never crash or hang. The first byte chooses how
// far the harness helps: 0 raw stream, 1 logged in first, 2 the rest is a
// SQLBatch payload, 3 an RPC payload (both after login).
#include <cstddef>
#include <cstdint>

#include "standin/Packets.h"
#include "standin/Session.h"

namespace {

standin::Bytes loginPayload() {
    // A LOGIN7 for sa with password "pw" and no other strings.
    standin::Bytes b(94, 0);
    b[4] = 0x04, b[7] = 0x74;
    b[25] = 0x03;
    const std::uint8_t password[] = {0xA2, 0xA5, 0xD2, 0xA5};  // "pw", encoded
    for (std::size_t at : {36, 40, 44, 48, 52, 56, 60, 64, 68})
        b[at] = 94;
    b[40] = 94, b[42] = 2;  // user "sa"
    b[44] = 98, b[46] = 2;  // password
    const std::uint8_t user[] = {'s', 0, 'a', 0};
    b.insert(b.end(), user, user + 4);
    b.insert(b.end(), password, password + 4);
    b[0] = static_cast<std::uint8_t>(b.size());
    return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t mode = data[0] & 3;
    std::span<const std::uint8_t> rest(data + 1, size - 1);

    standin::ServerState state(standin::ServerConfig{u"sa", u"pw", u"fuzz", u"FUZZ"});
    state.catalog.create(u"Shop").addTable(u"dbo", u"Orders", 3, {3, 1}, standin::DateTime{});
    standin::Session session(state, nullptr, 51);
    if (mode != 0 && session.handle(standin::Request{0x10, loginPayload()}).close)
        __builtin_trap();

    if (mode >= 2) {
        standin::Request r{static_cast<std::uint8_t>(mode == 2 ? 0x01 : 0x03),
                           {rest.begin(), rest.end()}};
        session.handle(std::move(r));
        return 0;
    }
    standin::MessageAssembler in(32768, 1 << 20);
    in.feed(rest);
    while (auto m = in.next())
        if (session.handle(std::move(*m)).close)
            break;
    return 0;
}
