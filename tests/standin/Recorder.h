#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "standin/Catalog.h"
#include "standin/Executor.h"
#include "standin/Results.h"

namespace standin::test {

// Keeps everything a statement delivers, in order.
struct Recorder : ResultSink {
    struct Done {
        std::uint16_t status, curCmd;
        std::uint64_t count;
    };
    void result(ResultSet&& rs) override { results.push_back(std::move(rs)); }
    void message(const Message& m) override { messages.push_back(m); }
    void databaseChanged(const std::u16string& n, const std::u16string&) override {
        databases.push_back(n);
    }
    void statementDone(std::uint16_t status, std::uint16_t curCmd, std::uint64_t count) override {
        dones.push_back({status, curCmd, count});
    }

    std::vector<int> errorNumbers() const {
        std::vector<int> out;
        for (const auto& m : messages)
            if (m.isError())
                out.push_back(m.number);
        return out;
    }
    std::vector<std::uint64_t> counts() const {
        std::vector<std::uint64_t> out;
        for (const auto& d : dones)
            if (d.status & done::kCount)
                out.push_back(d.count);
        return out;
    }

    std::vector<ResultSet> results;
    std::vector<Message> messages;
    std::vector<std::u16string> databases;
    std::vector<Done> dones;
};

// A server state with sessions that run SQL text directly.
struct Sql {
    ServerState state{ServerConfig{
        u"sa", u"pw", u"Test server 1.0 (X64) \n\tApr  2 2010 15:48:27 \n", u"TESTSRV"}};

    Recorder run(const QString& text, SessionState& session) {
        Recorder r;
        Executor(state, session, r, nullptr).runText(text.toStdU16String());
        return r;
    }
    Recorder run(const QString& text) { return run(text, session); }

    Table* table(const char16_t* db, const char16_t* name, const char16_t* schema = u"dbo") {
        Database* d = state.catalog.find(db);
        return d ? d->findTable(schema, name) : nullptr;
    }

    SessionState session{51};
};

inline QString text(const Value& v) {
    return std::holds_alternative<std::u16string>(v)
               ? QString::fromStdU16String(std::get<std::u16string>(v))
               : QString();
}
inline std::int64_t integer(const Value& v) {
    return std::get<std::int64_t>(v);
}

}  // namespace standin::test
