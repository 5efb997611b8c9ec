#include "Executor.h"

#include <algorithm>
#include <cstdio>

#include "EventLog.h"
#include "Parser.h"

namespace standin {
namespace {

SqlError error(std::int32_t number, std::u16string text, std::uint8_t severity = 16) {
    return SqlError{number, severity, std::move(text)};
}

SqlError invalidObject(const ObjectName& n) {
    return error(208, u"Invalid object name '" + n.written + u"'.");
}

std::u16string quoted(const std::u16string& s) {
    return u"'" + s + u"'";
}

std::u16string schemaOf(const ObjectName& n) {
    return n.schema.empty() ? u"dbo" : n.schema;
}

std::optional<std::int64_t> integer(const TypedValue& v) {
    auto r = convert(v.value, v.type, TypeInfo::of(SqlType::BigInt));
    if (auto* x = std::get_if<Value>(&r); x && !isNull(*x))
        return std::get<std::int64_t>(*x);
    return std::nullopt;
}

}  // namespace

void Executor::runText(std::u16string_view text, const Variables& vars) {
    auto parsed = parseBatch(text, session_.quotedIdentifier);
    if (auto* pe = std::get_if<ParseError>(&parsed)) {
        reportError(pe->error, pe->line);
        return;
    }
    run(std::get<ParsedBatch>(parsed).statements, vars);
}

void Executor::run(std::vector<Statement>& statements, const Variables& vars) {
    vars_ = &vars;
    for (auto& s : statements) {
        line_ = s.line;
        Flow flow = std::visit([&](auto& body) { return exec(body); }, s.body);
        if (flow == Flow::AbortBatch || fatal_)
            break;
    }
    vars_ = nullptr;
}

void Executor::reportError(const SqlError& e, std::int32_t line) {
    sink_.message(Message{e.number, 1, e.severity, e.text, line});
    sink_.statementDone(done::kError, 0, 0);
    if (log_)
        log_->write(session_.spid, "error", fromUtf8(std::to_string(e.number)) + u" " + e.text);
}

Executor::Flow Executor::fail(const SqlError& e, Flow flow) {
    reportError(e, line_);
    return flow;
}

void Executor::counted(std::uint16_t curCmd, std::int64_t n) {
    session_.rowCount = n;
    sink_.statementDone(session_.noCount ? 0 : done::kCount, curCmd, static_cast<std::uint64_t>(n));
}

std::u16string Executor::databaseOf(const ObjectName& name) const {
    return name.database.empty() ? session_.database : name.database;
}

Result<TableSource> Executor::table(const ObjectName& name) {
    std::lock_guard lock(server_.mutex);
    Database* db = server_.catalog.find(databaseOf(name));
    if (!db)
        return invalidObject(name);
    bool systemSchema = name.schema.empty() || equalsIgnoreCase(name.schema, u"dbo") ||
                        equalsIgnoreCase(name.schema, u"sys");
    if (systemSchema) {
        if (equalsIgnoreCase(name.name, u"sysdatabases"))
            return TableSource{server_.catalog.sysdatabases(), {}};
        if (equalsIgnoreCase(name.name, u"sysobjects"))
            return TableSource{Catalog::sysobjects(*db), {}};
        if (equalsIgnoreCase(name.name, u"sysindexes"))
            return TableSource{Catalog::sysindexes(*db), {}};
    }
    if (Table* t = db->findTable(schemaOf(name), name.name))
        return TableSource{{}, t->rows};
    return invalidObject(name);
}

std::optional<TypedValue> Executor::variable(std::u16string_view name) {
    if (name == u"@@version") {
        const auto& v = server_.config.versionText;
        return TypedValue{
            v, TypeInfo::text(std::max<std::int32_t>(300, static_cast<std::int32_t>(v.size())))};
    }
    if (name == u"@@spid")
        return TypedValue{std::int64_t{session_.spid}, TypeInfo::of(SqlType::SmallInt)};
    if (name == u"@@servername")
        return TypedValue{server_.config.serverName, TypeInfo::text(128)};
    if (name == u"@@trancount")
        return TypedValue{std::int64_t{session_.tranCount}, TypeInfo::of(SqlType::Int)};
    if (name == u"@@rowcount")
        return TypedValue{std::min<std::int64_t>(session_.rowCount, INT32_MAX),
                          TypeInfo::of(SqlType::Int)};
    if (vars_)
        for (const auto& [n, v] : *vars_)
            if (n == name)
                return v;
    return std::nullopt;
}

Executor::Flow Executor::exec(stmt::Select& s) {
    auto r = runSelect(s.query, *this);
    if (auto* e = std::get_if<SqlError>(&r))
        return fail(*e, Flow::AbortBatch);
    auto& rs = std::get<ResultSet>(r);
    auto n = static_cast<std::int64_t>(rs.rows.size());
    sink_.result(std::move(rs));
    counted(curcmd::kSelect, n);
    return Flow::Continue;
}

Executor::Flow Executor::exec(stmt::Insert& s) {
    std::int64_t n = static_cast<std::int64_t>(s.valueRows);
    if (s.select) {
        auto r = runSelect(*s.select, *this);
        if (auto* e = std::get_if<SqlError>(&r))
            return fail(*e, Flow::AbortBatch);
        n = static_cast<std::int64_t>(std::get<ResultSet>(r).rows.size());
    }
    {
        std::lock_guard lock(server_.mutex);
        const ObjectName& target = *s.target;
        Database* db = server_.catalog.find(databaseOf(target));
        Table* t = db ? db->findTable(schemaOf(target), target.name) : nullptr;
        if (!t)
            return fail(invalidObject(target), Flow::AbortBatch);
        Database::addRows(*t, n);
    }
    counted(curcmd::kInsert, n);
    return Flow::Continue;
}

Executor::Flow Executor::exec(stmt::CreateDatabase& s) {
    std::lock_guard lock(server_.mutex);
    if (server_.catalog.find(s.name))
        return fail(error(1801, u"Database " + quoted(s.name) +
                                    u" already exists. Choose a different database name."),
                    Flow::Continue);
    server_.catalog.create(s.name);
    return Flow::Continue;
}

Executor::Flow Executor::exec(stmt::DropDatabase& s) {
    for (const auto& name : s.names) {
        std::lock_guard lock(server_.mutex);
        Database* db = server_.catalog.find(name);
        if (!db) {
            if (s.ifExists)
                continue;
            return fail(
                error(3701, u"Cannot drop the database " + quoted(name) +
                                u", because it does not exist or you do not have permission."),
                Flow::Continue);
        }
        if (db->isSystem())
            return fail(error(3708, u"Cannot drop the database " + quoted(db->name()) +
                                        u" because it is a system database."),
                        Flow::Continue);
        if (server_.inUse(name))
            return fail(error(3702, u"Cannot drop database \"" + name +
                                        u"\" because it is currently in use."),
                        Flow::Continue);
        server_.catalog.drop(name);
    }
    return Flow::Continue;
}

Executor::Flow Executor::exec(stmt::CreateTable& s) {
    const ObjectName& name = *s.name;
    std::lock_guard lock(server_.mutex);
    std::u16string dbName = databaseOf(name);
    Database* db = server_.catalog.find(dbName);
    if (!db)
        return fail(error(2702, u"Database " + quoted(dbName) + u" does not exist."),
                    Flow::Continue);
    if (db->findTable(schemaOf(name), name.name))
        return fail(error(2714, u"There is already an object named " + quoted(name.name) +
                                    u" in the database."),
                    Flow::Continue);
    db->addTable(schemaOf(name), name.name, 0, {}, dateTimeNow());
    return Flow::Continue;
}

Executor::Flow Executor::exec(stmt::DropTable& s) {
    for (const auto& name : s.names) {
        std::lock_guard lock(server_.mutex);
        Database* db = server_.catalog.find(databaseOf(name));
        if (db && db->dropTable(schemaOf(name), name.name))
            continue;
        if (s.ifExists)
            continue;
        return fail(error(3701, u"Cannot drop the table " + quoted(name.written) +
                                    u", because it does not exist or you do not have permission."),
                    Flow::Continue);
    }
    return Flow::Continue;
}

Executor::Flow Executor::exec(stmt::TruncateTable& s) {
    const ObjectName& name = *s.name;
    std::lock_guard lock(server_.mutex);
    Database* db = server_.catalog.find(databaseOf(name));
    Table* t = db ? db->findTable(schemaOf(name), name.name) : nullptr;
    if (!t)
        return fail(
            error(4701, u"Cannot find the object \"" + name.written +
                            u"\" because it does not exist or you do not have permissions."),
            Flow::Continue);
    Database::addRows(*t, -t->rows);
    std::fill(t->indexRows.begin(), t->indexRows.end(), 0);
    return Flow::Continue;
}

Executor::Flow Executor::exec(stmt::Use& s) {
    std::u16string old = session_.database;
    {
        std::lock_guard lock(server_.mutex);
        Database* db = server_.catalog.find(s.database);
        if (!db)
            return fail(
                error(911, u"Database " + quoted(s.database) +
                               u" does not exist. Make sure that the name is entered correctly."),
                Flow::AbortBatch);
        session_.database = db->name();
        server_.sessionDatabase[session_.spid] = db->name();
    }
    sink_.databaseChanged(session_.database, old);
    sink_.message(Message{
        5701, 2, 0, u"Changed database context to " + quoted(session_.database) + u".", line_});
    return Flow::Continue;
}

Executor::Flow Executor::exec(stmt::SetOptions& s) {
    for (const auto& o : s.options) {
        if (o == u"nocount")
            session_.noCount = s.on;
        if (o == u"quoted_identifier")
            session_.quotedIdentifier = s.on;
    }
    return Flow::Continue;
}

Executor::Flow Executor::exec(stmt::Print& s) {
    auto v = evaluateScalar(*s.text, *this);
    if (auto* e = std::get_if<SqlError>(&v))
        return fail(*e, Flow::AbortBatch);
    const auto& tv = std::get<TypedValue>(v);
    sink_.message(Message{0, 1, 0, toText(tv.value, tv.type), line_});
    return Flow::Continue;
}

Executor::Flow Executor::exec(stmt::RaiseError& s) {
    std::vector<TypedValue> values;
    for (Expr* e : {s.message.get(), s.severity.get(), s.state.get()}) {
        auto v = evaluateScalar(*e, *this);
        if (auto* err = std::get_if<SqlError>(&v))
            return fail(*err, Flow::AbortBatch);
        values.push_back(std::move(std::get<TypedValue>(v)));
    }
    std::vector<TypedValue> args;
    for (auto& a : s.args) {
        auto v = evaluateScalar(*a, *this);
        if (auto* err = std::get_if<SqlError>(&v))
            return fail(*err, Flow::AbortBatch);
        args.push_back(std::move(std::get<TypedValue>(v)));
    }
    auto severity = integer(values[1]);
    auto state = integer(values[2]);
    if (!severity || !state)
        return fail(error(102, u"Incorrect syntax near 'RAISERROR'.", 15), Flow::AbortBatch);
    if (*severity > 18 && !s.withLog)
        return fail(
            error(2754,
                  u"Error severity levels greater than 18 can only be specified by members of the "
                  u"sysadmin role, using the WITH LOG option."),
            Flow::Continue);
    Message m;
    m.severity = static_cast<std::uint8_t>(std::clamp<std::int64_t>(*severity, 0, 25));
    m.state = static_cast<std::uint8_t>(std::clamp<std::int64_t>(*state, 0, 255));
    m.line = line_;
    if (values[0].type.type == SqlType::NVarChar) {
        m.number = 50000;
        m.text = formatRaiseError(
            isNull(values[0].value) ? u"" : std::get<std::u16string>(values[0].value), args);
    } else {
        auto id = integer(values[0]);
        if (!id || *id < 13000 || *id == 50000 || *id > INT32_MAX)
            return fail(error(2732, u"Error number " + toText(values[0].value, values[0].type) +
                                        u" is invalid. The number must be from 13000 through "
                                        u"2147483647 and it cannot be 50000."),
                        Flow::Continue);
        m.number = static_cast<std::int32_t>(*id);
        m.text =
            u"Error " + fromUtf8(std::to_string(*id)) + u", severity " +
            fromUtf8(std::to_string(m.severity)) + u", state " + fromUtf8(std::to_string(m.state)) +
            u" was raised, but no message with that error number was found in sys.messages. If "
            u"error is "
            u"larger than 50000, make sure the user-defined message is added using sp_addmessage.";
    }
    sink_.message(m);
    if (m.isError()) {
        sink_.statementDone(done::kError, 0, 0);
        if (log_)
            log_->write(session_.spid, "error", fromUtf8(std::to_string(m.number)) + u" " + m.text);
    }
    fatal_ = m.severity >= 20;
    return Flow::Continue;
}

Executor::Flow Executor::exec(stmt::Transaction& s) {
    using Op = stmt::Transaction::Op;
    switch (s.op) {
        case Op::Begin:
            ++session_.tranCount;
            break;
        case Op::Commit:
            if (session_.tranCount == 0)
                return fail(
                    error(
                        3902,
                        u"The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."),
                    Flow::Continue);
            --session_.tranCount;
            break;
        case Op::Rollback:
            if (session_.tranCount == 0)
                return fail(error(3903,
                                  u"The ROLLBACK TRANSACTION request has no corresponding BEGIN "
                                  u"TRANSACTION."),
                            Flow::Continue);
            session_.tranCount = 0;
            break;
        case Op::Save:
            if (session_.tranCount == 0)
                return fail(
                    error(628,
                          u"Cannot issue SAVE TRANSACTION when there is no active transaction."),
                    Flow::Continue);
            break;
    }
    return Flow::Continue;
}

std::u16string formatRaiseError(std::u16string_view format, const std::vector<TypedValue>& args) {
    std::u16string out;
    std::size_t next = 0;
    auto takeArg = [&]() -> const TypedValue* {
        return next < args.size() ? &args[next++] : nullptr;
    };
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != u'%' || i + 1 >= format.size()) {
            out += format[i];
            continue;
        }
        if (format[i + 1] == u'%') {
            out += u'%';
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        std::string flags;
        while (j < format.size() &&
               std::u16string_view(u"-+0# ").find(format[j]) != std::u16string_view::npos)
            flags += static_cast<char>(format[j++]);
        auto number = [&]() -> int {
            if (j < format.size() && format[j] == u'*') {
                ++j;
                const TypedValue* a = takeArg();
                return a ? static_cast<int>(
                               std::clamp<std::int64_t>(integer(*a).value_or(0), 0, 4000))
                         : 0;
            }
            int n = -1;
            while (j < format.size() && format[j] >= u'0' && format[j] <= u'9')
                n = std::min((n < 0 ? 0 : n) * 10 + (format[j++] - u'0'), 4000);
            return n;
        };
        int width = number();
        int precision = -1;
        if (j < format.size() && format[j] == u'.') {
            ++j;
            precision = std::max(0, number());
        }
        if (j < format.size() && (format[j] == u'h' || format[j] == u'l' || format[j] == u'I'))
            ++j;
        if (j >= format.size()) {
            out += format.substr(i);
            break;
        }
        char16_t type = format[j];
        const TypedValue* a = takeArg();
        std::u16string piece;
        if (type == u's') {
            piece = a ? (isNull(a->value) ? u"(null)" : toText(a->value, a->type)) : u"(null)";
            if (precision >= 0 && piece.size() > static_cast<std::size_t>(precision))
                piece.resize(static_cast<std::size_t>(precision));
        } else if (std::u16string_view(u"diuoxX").find(type) != std::u16string_view::npos) {
            std::string conversion = "%" + flags;
            if (width > 0)
                conversion += std::to_string(width);
            if (precision >= 0)
                conversion += "." + std::to_string(precision);
            width = 0;  // printf pads numbers itself
            conversion += "ll";
            conversion += static_cast<char>(type);
            long long v = a ? integer(*a).value_or(0) : 0;
            if (type != u'd' && type != u'i')
                v &= 0xFFFFFFFFll;  // unsigned forms show 32 bits
            char buf[64];
            std::snprintf(buf, sizeof buf, conversion.c_str(), v);
            piece = fromUtf8(buf);
        } else {
            out += format.substr(i, j - i + 1);
            i = j;
            continue;
        }
        if (width > 0 && piece.size() < static_cast<std::size_t>(width)) {
            std::size_t pad = static_cast<std::size_t>(width) - piece.size();
            if (flags.find('-') != std::string::npos)
                piece.append(pad, u' ');
            else
                piece.insert(0, pad,
                             flags.find('0') != std::string::npos && type != u's' ? u'0' : u' ');
        }
        out += piece;
        i = j;
    }
    return out;
}

}  // namespace standin
