#include "Parser.h"

#include <algorithm>
#include <array>

namespace standin {
namespace {

using K = Token::Kind;

struct Failure {
    ParseError error;
};

// Words that begin a statement; a statement this server accepts without
// modelling it runs until the next of these (or a semicolon).
constexpr std::array<std::string_view, 45> kStatementWords = {
    "alter",    "backup",   "begin",     "break",      "checkpoint",  "close",    "commit",
    "continue", "create",   "dbcc",      "deallocate", "declare",     "delete",   "deny",
    "disable",  "drop",     "else",      "enable",     "end",         "exec",     "execute",
    "fetch",    "goto",     "grant",     "if",         "insert",      "kill",     "merge",
    "open",     "print",    "raiserror", "readtext",   "reconfigure", "restore",  "return",
    "revoke",   "rollback", "save",      "select",     "set",         "shutdown", "throw",
    "truncate", "update",   "use",
};

// Words that cannot be a column alias written without AS.
constexpr std::array<std::string_view, 22> kClauseWords = {
    "from",  "where", "group", "order",  "union",     "inner", "join",   "left",
    "right", "full",  "cross", "on",     "as",        "into",  "having", "option",
    "with",  "for",   "outer", "except", "intersect", "else",
};

constexpr std::array<std::string_view, 7> kModuleWords = {
    "proc", "procedure", "view", "function", "trigger", "rule", "default"};

// How deeply statements, queries and expressions may nest. Deeper text is
// refused as the server refuses it, before recursion could exhaust a stack.
constexpr int kMaxNesting = 128;
constexpr std::int32_t kTooDeep = 191;

class Parser {
public:
    Parser(std::u16string_view text, bool quotedIdentifier)
        : lex_(text, quotedIdentifier), qi_(quotedIdentifier) {}

    ParsedBatch batch() {
        ParsedBatch out;
        while (peek().kind != K::End) {
            if (accept(";"))
                continue;
            statement(out.statements);
        }
        return out;
    }

private:
    // ---- token access -------------------------------------------------
    // Looks k tokens ahead (k < kLookahead); the End token repeats.
    const Token& peek(std::size_t k = 0) {
        while (count_ <= k) {
            const Token* back = count_ ? &ahead_[(head_ + count_ - 1) % kLookahead] : nullptr;
            ahead_[(head_ + count_) % kLookahead] =
                back && back->kind == K::End ? *back : lex_.next();
            ++count_;
        }
        return ahead_[(head_ + k) % kLookahead];
    }

    Token take() {
        Token t = peek();
        if (t.kind == K::Error)
            throw Failure{{lex_.error(), t.line}};
        if (t.kind != K::End) {
            head_ = (head_ + 1) % kLookahead;
            --count_;
            last_ = t;
        }
        return t;
    }

    bool at(std::string_view s, std::size_t k = 0) { return lex_.is(peek(k), s); }

    bool accept(std::string_view s) {
        if (!at(s))
            return false;
        take();
        return true;
    }

    void expect(std::string_view s) {
        if (!accept(s))
            fail(peek());
    }

    [[noreturn]] void fail(const Token& t) {
        if (t.kind == K::Error)
            throw Failure{{lex_.error(), t.line}};
        const Token& near = t.kind == K::End ? last_ : t;
        throw Failure{
            {{102, 15, u"Incorrect syntax near '" + std::u16string(lex_.text(near)) + u"'."},
             near.line}};
    }

    bool isOneOf(const Token& t, auto const& words) {
        if (t.kind != K::Word)
            return false;
        return std::any_of(words.begin(), words.end(),
                           [&](std::string_view w) { return lex_.is(t, w); });
    }

    bool isStatementWord(const Token& t) { return isOneOf(t, kStatementWords); }

    bool atStatementEnd() {
        const Token& t = peek();
        return t.kind == K::End || lex_.is(t, ";") || isStatementWord(t);
    }

    // Re-reads from the next token on, e.g. after QUOTED_IDENTIFIER changed.
    void rewind(const Token& from) {
        lex_.restart(from.offset, from.line, qi_);
        count_ = 0;
    }

    // ---- names -------------------------------------------------------
    bool atName(std::size_t k = 0) {
        return peek(k).kind == K::Word || peek(k).kind == K::QuotedName;
    }

    std::u16string name() {
        if (!atName())
            fail(peek());
        return lex_.name(take());
    }

    ObjectName objectName() {
        std::vector<std::u16string> parts;
        parts.push_back(name());
        while (at(".")) {
            take();
            if (at(".")) {  // db..name
                parts.emplace_back();
                continue;
            }
            parts.push_back(name());
        }
        if (parts.size() > 4)
            fail(last_);
        ObjectName n;
        for (std::size_t i = 0; i < parts.size(); ++i)
            n.written += (i ? u"." : u"") + parts[i];
        n.name = parts.back();
        if (parts.size() >= 2)
            n.schema = parts[parts.size() - 2];
        if (parts.size() >= 3)
            n.database = parts[parts.size() - 3];
        return n;
    }

    // Counts one level of nesting for as long as it lives.
    struct Nesting {
        explicit Nesting(Parser& p) : p_(p) {
            if (++p_.depth_ > kMaxNesting)
                throw Failure{{{kTooDeep, 15,
                                u"Some part of your SQL statement is nested too deeply. Rewrite "
                                u"the query or break it "
                                u"up into smaller queries."},
                               p_.peek().line}};
        }
        ~Nesting() { --p_.depth_; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;

    private:
        Parser& p_;
    };

    // ---- statements --------------------------------------------------
    void statement(std::vector<Statement>& out) {
        Nesting nesting(*this);
        const Token first = peek();
        Statement s;
        s.line = first.line;
        if (at("select") || at("(")) {
            s.body = stmt::Select{selectStatement()};
        } else if (at("insert")) {
            s.body = insert();
        } else if (at("create")) {
            s.body = create();
        } else if (at("drop")) {
            s.body = drop();
        } else if (at("alter")) {
            take();
            if (isOneOf(peek(), kModuleWords)) {
                skipRest();
            } else {
                skipClause([&](const Token& t, const Token& prev) {
                    return lex_.is(t, "set") || lex_.is(t, "enable") || lex_.is(t, "disable") ||
                           lex_.is(t, "drop") || lex_.is(t, "alter") || afterOn(t, prev) ||
                           (lex_.is(t, "rollback") && lex_.is(prev, "with"));
                });
            }
            s.body = stmt::NoEffect{};
        } else if (at("use")) {
            take();
            s.body = stmt::Use{name()};
        } else if (at("set")) {
            s.body = set();
        } else if (at("print")) {
            take();
            s.body = stmt::Print{expression()};
        } else if (at("raiserror")) {
            s.body = raiseError();
        } else if (at("begin")) {
            if (!begin(out, s))
                return;
        } else if (at("commit") || at("rollback") || at("save")) {
            auto op = at("commit")     ? stmt::Transaction::Op::Commit
                      : at("rollback") ? stmt::Transaction::Op::Rollback
                                       : stmt::Transaction::Op::Save;
            take();
            if (!(accept("tran") || accept("transaction") || accept("work")) &&
                op == stmt::Transaction::Op::Save)
                fail(peek());
            transactionName();
            s.body = stmt::Transaction{op};
        } else if (at("truncate")) {
            take();
            expect("table");
            s.body = stmt::TruncateTable{std::make_unique<ObjectName>(objectName())};
        } else if (at("exec") || at("execute")) {
            execute();
            s.body = stmt::NoEffect{};
        } else if (at("grant") || at("deny") || at("revoke")) {
            take();
            while (!(at("to") || at("from"))) {
                if (peek().kind == K::End)
                    fail(peek());
                take();
            }
            take();
            skipClause();
            s.body = stmt::NoEffect{};
        } else if (at("declare")) {
            take();
            skipClause([&](const Token& t, const Token& prev) {
                return lex_.is(t, "select") && lex_.is(prev, "for");
            });
            s.body = stmt::NoEffect{};
        } else if (at("if") || at("while")) {
            bool isIf = at("if");
            take();
            skipCondition();
            skipBody();
            if (isIf && accept("else"))
                skipBody();
            s.body = stmt::NoEffect{};
        } else if (at("dbcc") || at("checkpoint") || at("enable") || at("disable") ||
                   at("reconfigure") || at("waitfor")) {
            take();
            skipClause();
            s.body = stmt::NoEffect{};
        } else {
            fail(first);
        }
        out.push_back(std::move(s));
    }

    // ON DELETE / ON UPDATE of a foreign key.
    bool afterOn(const Token& t, const Token& prev) {
        return (lex_.is(t, "delete") || lex_.is(t, "update")) && lex_.is(prev, "on");
    }

    // Skips tokens to the end of the statement: a semicolon or a statement
    // word outside parentheses, unless `keep(token, previous)` says the word
    // belongs to this statement.
    template <typename Keep>
    void skipClause(Keep keep) {
        int depth = 0;
        Token prev = last_;
        for (;;) {
            const Token& t = peek();
            if (t.kind == K::End)
                break;
            if (depth == 0 && (lex_.is(t, ";") || (isStatementWord(t) && !keep(t, prev))))
                break;
            if (lex_.is(t, "("))
                ++depth;
            if (lex_.is(t, ")") && --depth < 0)
                fail(t);
            prev = take();
        }
        if (depth > 0)
            fail(peek());
    }
    void skipClause() {
        skipClause([](const Token&, const Token&) { return false; });
    }

    void skipRest() {
        while (peek().kind != K::End)
            take();
    }

    void skipBalanced() {
        expect("(");
        // The lexer steps over the group by characters, which is what makes
        // long VALUES lists cheap; at the end of the text the token walk
        // below finds the error to report.
        if (count_ > 0)
            rewind(peek());
        if (auto close = lex_.skipParenthesized()) {
            last_ = *close;
            return;
        }
        int depth = 1;
        while (depth > 0) {
            const Token& t = peek();
            if (t.kind == K::End)
                fail(t);
            if (lex_.is(t, "("))
                ++depth;
            if (lex_.is(t, ")"))
                --depth;
            take();
        }
    }

    // The condition of IF or WHILE, up to the statement it guards.
    void skipCondition() {
        int depth = 0;
        bool any = false;
        for (;;) {
            const Token& t = peek();
            if (t.kind == K::End)
                fail(t);
            if (depth == 0 && any && (isStatementWord(t) || lex_.is(t, ";")))
                return;
            if (lex_.is(t, "("))
                ++depth;
            if (lex_.is(t, ")") && --depth < 0)
                fail(t);
            take();
            any = true;
        }
    }

    // The statement or BEGIN...END block under IF, ELSE or WHILE, which this
    // server does not run.
    void skipBody() {
        if (at("begin") && !(at("tran", 1) || at("transaction", 1) || at("distributed", 1))) {
            take();
            skipBlock();
            return;
        }
        Token start = peek();
        std::vector<Statement> discarded;
        try {
            statement(discarded);
        } catch (const Failure& f) {
            if (f.error.error.number == kTooDeep)
                throw;
            // A statement this server cannot parse is still fine where it never runs.
            rewind(start);
            take();
            skipClause();
        }
    }

    // After BEGIN (and TRY or CATCH): up to the matching END.
    void skipBlock() {
        accept("try") || accept("catch");
        int depth = 1;
        while (depth > 0) {
            const Token& t = peek();
            if (t.kind == K::End)
                fail(t);
            if (lex_.is(t, "begin") &&
                !(at("tran", 1) || at("transaction", 1) || at("distributed", 1)))
                ++depth;
            if (lex_.is(t, "case"))
                ++depth;
            if (lex_.is(t, "end"))
                --depth;
            take();
        }
        accept("try") || accept("catch");
    }

    // BEGIN TRAN, BEGIN TRY/CATCH (not run), or a BEGIN...END block whose
    // statements run as part of the batch. Returns whether `s` is a statement.
    bool begin(std::vector<Statement>& out, Statement& s) {
        take();
        bool distributed = accept("distributed");
        if (distributed || at("tran") || at("transaction")) {
            if (!(accept("tran") || accept("transaction")))
                fail(peek());
            transactionName();
            if (accept("with")) {
                expect("mark");
                if (peek().kind == K::String)
                    take();
            }
            s.body = stmt::Transaction{stmt::Transaction::Op::Begin};
            return true;
        }
        if (at("try") || at("catch")) {
            skipBlock();
            s.body = stmt::NoEffect{};
            return true;
        }
        while (!at("end")) {
            if (peek().kind == K::End)
                fail(peek());
            if (accept(";"))
                continue;
            statement(out);
        }
        take();
        return false;
    }

    void transactionName() {
        if (peek().kind == K::Variable || (atName() && !isStatementWord(peek()) && !at("with")))
            take();
    }

    stmt::Insert insert() {
        take();
        accept("into");
        stmt::Insert ins;
        ObjectName target = objectName();
        if (!lastInsertTarget_ || lastInsertTarget_->written != target.written ||
            lastInsertTarget_->database != target.database ||
            lastInsertTarget_->schema != target.schema || lastInsertTarget_->name != target.name)
            lastInsertTarget_ = std::make_shared<const ObjectName>(std::move(target));
        ins.target = lastInsertTarget_;
        if (at("with") && at("(", 1)) {
            take();
            skipBalanced();
        }
        if (at("(") && !at("select", 1))
            skipBalanced();  // column list
        if (accept("default")) {
            expect("values");
            ins.valueRows = 1;
        } else if (accept("values")) {
            do {
                skipBalanced();
                ++ins.valueRows;
            } while (accept(","));
        } else if (at("select") || at("(")) {
            ins.select = std::make_unique<SelectStmt>(selectStatement());
        } else {
            fail(peek());
        }
        return ins;
    }

    stmt::SetOptions set() {
        take();
        if (peek().kind == K::Variable) {  // SET @x = ...
            skipClause();
            return {};
        }
        stmt::SetOptions s;
        while (peek().kind == K::Word) {
            s.options.push_back(foldCase(lex_.name(take())));
            if (!accept(","))
                break;
        }
        if (s.options.empty() || !(at("on") || at("off"))) {
            skipClause();  // SET IDENTITY_INSERT t ON, SET TRANSACTION ..., SET DATEFORMAT ...
            return {};
        }
        s.on = at("on");
        take();
        if (std::find(s.options.begin(), s.options.end(), u"quoted_identifier") !=
                s.options.end() &&
            qi_ != s.on) {
            qi_ = s.on;
            rewind(peek());
        }
        return s;
    }

    stmt::RaiseError raiseError() {
        take();
        stmt::RaiseError r;
        expect("(");
        r.message = expression();
        expect(",");
        r.severity = expression();
        expect(",");
        r.state = expression();
        while (accept(","))
            r.args.push_back(expression());
        expect(")");
        if (accept("with")) {
            do {
                if (!(at("log") || at("nowait") || at("seterror")))
                    fail(peek());
                r.withLog = r.withLog || at("log");
                take();
            } while (accept(","));
        }
        return r;
    }

    Statement::Body create() {
        take();
        if (at("or") && at("alter", 1)) {
            take();
            take();
        }
        if (isOneOf(peek(), kModuleWords)) {
            // A module's body is the rest of the batch.
            skipRest();
            return stmt::NoEffect{};
        }
        if (accept("database")) {
            stmt::CreateDatabase c{name()};
            skipClause();
            return c;
        }
        if (accept("table")) {
            stmt::CreateTable c{std::make_unique<ObjectName>(objectName())};
            skipBalanced();
            skipClause();
            return c;
        }
        skipClause([&](const Token& t, const Token& prev) { return afterOn(t, prev); });
        return stmt::NoEffect{};
    }

    Statement::Body drop() {
        take();
        if (accept("database")) {
            stmt::DropDatabase d;
            d.ifExists = ifExists();
            do
                d.names.push_back(name());
            while (accept(","));
            return d;
        }
        if (accept("table")) {
            stmt::DropTable d;
            d.ifExists = ifExists();
            do
                d.names.push_back(objectName());
            while (accept(","));
            return d;
        }
        skipClause();
        return stmt::NoEffect{};
    }

    bool ifExists() {
        if (!(at("if") && at("exists", 1)))
            return false;
        take();
        take();
        return true;
    }

    // EXEC proc args, EXEC (string), EXECUTE AS ...: accepted, not run.
    void execute() {
        take();
        if (at("(")) {
            skipBalanced();
            skipClause();
            return;
        }
        if (at("as")) {
            skipClause();
            return;
        }
        if (peek().kind == K::Variable && at("=", 1)) {
            take();
            take();
        }
        if (peek().kind == K::Variable)
            take();
        else
            objectName();
        if (atStatementEnd() || at("with")) {
            if (accept("with"))
                skipClause();
            return;
        }
        do {
            if (peek().kind == K::Variable && at("=", 1)) {
                take();
                take();
            }
            accept("-") || accept("+");
            K k = peek().kind;
            if (k == K::Word || k == K::QuotedName || k == K::String || k == K::Integer ||
                k == K::Decimal || k == K::Float || k == K::Binary || k == K::Variable ||
                k == K::Global)
                take();
            else
                fail(peek());
            accept("output") || accept("out");
        } while (accept(","));
        if (accept("with"))
            skipClause();
    }

    // ---- SELECT ------------------------------------------------------
    SelectStmt selectStatement() {
        Nesting nesting(*this);
        SelectStmt q;
        q.parts.push_back(querySpec());
        while (accept("union")) {
            expect("all");
            q.parts.push_back(querySpec());
        }
        if (accept("order")) {
            expect("by");
            do {
                OrderItem o;
                o.expr = expression();
                if (accept("desc"))
                    o.descending = true;
                else
                    accept("asc");
                q.orderBy.push_back(std::move(o));
            } while (accept(","));
        }
        return q;
    }

    QuerySpec querySpec() {
        Nesting nesting(*this);
        if (accept("(")) {
            QuerySpec inner = querySpec();
            expect(")");
            return inner;
        }
        expect("select");
        QuerySpec q;
        accept("all");
        if (accept("top")) {
            if (accept("(")) {
                q.top = expression();
                expect(")");
            } else {
                q.top = primary();
            }
        }
        do
            q.items.push_back(selectItem());
        while (accept(","));
        if (accept("from")) {
            q.from = tableRef();
            for (;;) {
                if (accept("inner")) {
                    expect("join");
                } else if (!accept("join")) {
                    break;
                }
                Join j;
                j.table = tableRef();
                expect("on");
                j.on = expression();
                q.joins.push_back(std::move(j));
            }
        }
        if (accept("where"))
            q.where = expression();
        if (accept("group")) {
            expect("by");
            do
                q.groupBy.push_back(expression());
            while (accept(","));
        }
        return q;
    }

    SelectItem selectItem() {
        SelectItem item;
        if (accept("*"))
            return item;
        if (atName() && at(".", 1) && at("*", 2)) {
            item.starQualifier = name();
            take();
            take();
            return item;
        }
        if (atName() && at("=", 1)) {
            item.alias = name();
            item.hasAlias = true;
            take();
            item.expr = expression();
            return item;
        }
        item.expr = expression();
        if (accept("as")) {
            item.alias = peek().kind == K::String ? lex_.string(take()) : name();
            item.hasAlias = true;
        } else if (peek().kind == K::QuotedName || peek().kind == K::String ||
                   (peek().kind == K::Word && !isStatementWord(peek()) &&
                    !isOneOf(peek(), kClauseWords))) {
            item.alias = peek().kind == K::String ? lex_.string(take()) : name();
            item.hasAlias = true;
        }
        return item;
    }

    TableRef tableRef() {
        TableRef t;
        t.line = peek().line;
        if (at("(")) {
            take();
            t.derived = std::make_unique<SelectStmt>(selectStatement());
            expect(")");
        } else {
            t.object = objectName();
            t.alias = t.object.name;
        }
        if (accept("as") ||
            (atName() && !isStatementWord(peek()) && !isOneOf(peek(), kClauseWords)))
            t.alias = name();
        else if (t.derived)
            fail(peek());                // a derived table needs a name
        if (at("with") && at("(", 1)) {  // table hints such as NOLOCK
            take();
            skipBalanced();
        }
        return t;
    }

    // ---- expressions -------------------------------------------------
    ExprPtr node(Expr::Kind kind, std::int32_t line) {
        auto e = std::make_unique<Expr>();
        e->kind = kind;
        e->line = line;
        return e;
    }

    ExprPtr binary(Expr::Kind kind, char16_t op, ExprPtr a, ExprPtr b) {
        auto e = node(kind, a->line);
        e->op = op;
        e->args.push_back(std::move(a));
        e->args.push_back(std::move(b));
        return e;
    }

    ExprPtr expression() {
        Nesting nesting(*this);
        ExprPtr e = conjunction();
        while (at("or")) {
            take();
            e = binary(Expr::Kind::Or, 0, std::move(e), conjunction());
        }
        return e;
    }

    ExprPtr conjunction() {
        ExprPtr e = negation();
        while (at("and")) {
            take();
            e = binary(Expr::Kind::And, 0, std::move(e), negation());
        }
        return e;
    }

    ExprPtr negation() {
        if (at("not")) {
            Nesting nesting(*this);
            auto e = node(Expr::Kind::Not, take().line);
            e->args.push_back(negation());
            return e;
        }
        return predicate();
    }

    ExprPtr predicate() {
        ExprPtr e = additive();
        static const std::pair<std::string_view, char16_t> comparisons[] = {
            {"=", u'='},  {"<", u'<'},  {">", u'>'},  {"<=", u'l'}, {">=", u'g'},
            {"<>", u'n'}, {"!=", u'n'}, {"!<", u'g'}, {"!>", u'l'}};
        for (auto [spelling, op] : comparisons) {
            if (peek().kind == K::Symbol && at(spelling)) {
                take();
                return binary(Expr::Kind::Compare, op, std::move(e), additive());
            }
        }
        if (accept("is")) {
            auto n = node(Expr::Kind::IsNull, e->line);
            n->negated = accept("not");
            expect("null");
            n->args.push_back(std::move(e));
            return n;
        }
        bool negated = at("not") && at("in", 1);
        if (negated)
            take();
        if (accept("in")) {
            auto n = node(Expr::Kind::InList, e->line);
            n->negated = negated;
            n->args.push_back(std::move(e));
            expect("(");
            do
                n->args.push_back(expression());
            while (accept(","));
            expect(")");
            return n;
        }
        return e;
    }

    ExprPtr additive() {
        ExprPtr e = multiplicative();
        while (peek().kind == K::Symbol && (at("+") || at("-"))) {
            char16_t op = lex_.text(take())[0];
            e = binary(Expr::Kind::Arith, op, std::move(e), multiplicative());
        }
        return e;
    }

    ExprPtr multiplicative() {
        ExprPtr e = unary();
        while (peek().kind == K::Symbol && (at("*") || at("/") || at("%"))) {
            char16_t op = lex_.text(take())[0];
            e = binary(Expr::Kind::Arith, op, std::move(e), unary());
        }
        return e;
    }

    ExprPtr unary() {
        if (at("-") || at("+")) {
            Nesting nesting(*this);
            bool minus = at("-");
            auto line = take().line;
            ExprPtr operand = unary();
            if (!minus)
                return operand;
            auto e = node(Expr::Kind::Negate, line);
            e->args.push_back(std::move(operand));
            return e;
        }
        return primary();
    }

    ExprPtr literal(Value v, TypeInfo t, std::int32_t line) {
        auto e = node(Expr::Kind::Literal, line);
        e->value = std::move(v);
        e->type = t;
        return e;
    }

    ExprPtr numberLiteral(const Token& t) {
        std::u16string_view text = lex_.text(t);
        if (t.kind == K::Float) {
            auto v = convert(Value{std::u16string(text)}, TypeInfo::text(64),
                             TypeInfo::of(SqlType::Float));
            if (auto* f = std::get_if<Value>(&v))
                return literal(*f, TypeInfo::of(SqlType::Float), t.line);
            fail(t);
        }
        std::size_t point = text.find(u'.');
        int scale =
            point == std::u16string_view::npos ? 0 : static_cast<int>(text.size() - point - 1);
        std::size_t intDigits = point == std::u16string_view::npos ? text.size() : point;
        std::size_t lead = 0;
        while (lead < intDigits && text[lead] == u'0')
            ++lead;
        int precision = std::max(1, static_cast<int>(intDigits - lead) + scale);
        if (precision > 38)
            fail(t);
        auto type = TypeInfo::decimal(precision, scale);
        auto v = convert(Value{std::u16string(text)}, TypeInfo::text(64), type);
        const Value& d = std::get<Value>(v);
        if (t.kind == K::Integer && precision <= 10) {
            __int128 u = std::get<Decimal>(d).unscaled;
            if (u <= INT32_MAX)
                return literal(Value{static_cast<std::int64_t>(u)}, TypeInfo::of(SqlType::Int),
                               t.line);
        }
        return literal(d, type, t.line);
    }

    ExprPtr binaryLiteral(const Token& t) {
        std::u16string_view hex = lex_.text(t).substr(2);
        Bytes b;
        auto digit = [](char16_t c) { return c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10; };
        std::size_t i = 0;
        if (hex.size() % 2)
            b.push_back(static_cast<std::uint8_t>(digit(hex[i++])));
        for (; i < hex.size(); i += 2)
            b.push_back(static_cast<std::uint8_t>(digit(hex[i]) << 4 | digit(hex[i + 1])));
        auto n = static_cast<std::int32_t>(std::max<std::size_t>(1, b.size()));
        return literal(Value{std::move(b)}, TypeInfo::binary(n), t.line);
    }

    TypeInfo typeName() {
        std::u16string n = name();
        std::optional<int> a1, a2;
        if (accept("(")) {
            if (accept("max")) {
                a1 = TypeInfo::kMaxLength;
            } else {
                if (peek().kind != K::Integer)
                    fail(peek());
                a1 = integerValue(take());
                if (accept(",")) {
                    if (peek().kind != K::Integer)
                        fail(peek());
                    a2 = integerValue(take());
                }
            }
            expect(")");
        }
        auto t = typeFromName(n, a1, a2);
        if (!t)
            throw Failure{
                {{243, 16, u"Type " + n + u" is not a defined system type."}, last_.line}};
        return *t;
    }

    int integerValue(const Token& t) {
        std::u16string_view text = lex_.text(t);
        long v = 0;
        for (char16_t c : text) {
            v = v * 10 + (c - u'0');
            if (v > 1000000000)
                fail(t);
        }
        return static_cast<int>(v);
    }

    ExprPtr primary() {
        const Token t = peek();
        switch (t.kind) {
            case K::Integer:
            case K::Decimal:
            case K::Float:
                return numberLiteral(take());
            case K::String: {
                take();
                std::u16string s = lex_.string(t);
                auto n = static_cast<std::int32_t>(std::max<std::size_t>(1, s.size()));
                return literal(Value{std::move(s)}, TypeInfo::text(n), t.line);
            }
            case K::Binary:
                return binaryLiteral(take());
            case K::Variable:
            case K::Global: {
                take();
                auto e =
                    node(t.kind == K::Variable ? Expr::Kind::Variable : Expr::Kind::Global, t.line);
                e->name = foldCase(lex_.text(t));
                return e;
            }
            case K::Symbol:
                if (lex_.is(t, "(")) {
                    take();
                    if (at("select"))
                        fail(peek());  // subqueries are not supported
                    ExprPtr e = expression();
                    expect(")");
                    return e;
                }
                fail(t);
            case K::Word:
                if (lex_.is(t, "null")) {
                    take();
                    return literal(Value{}, TypeInfo::of(SqlType::Int), t.line);
                }
                if (at("(", 1))
                    return call();
                if (isStatementWord(t) || isOneOf(t, kClauseWords))
                    fail(t);
                return columnRef();
            case K::QuotedName:
                return columnRef();
            default:
                fail(t);
        }
    }

    ExprPtr columnRef() {
        auto e = node(Expr::Kind::Column, peek().line);
        e->parts.push_back(name());
        while (at(".") && atName(1)) {
            take();
            e->parts.push_back(name());
        }
        return e;
    }

    ExprPtr call() {
        const Token t = take();
        std::u16string fn = foldCase(lex_.name(t));
        take();  // (
        if (fn == u"cast") {
            auto e = node(Expr::Kind::Cast, t.line);
            e->args.push_back(expression());
            expect("as");
            e->type = typeName();
            expect(")");
            return e;
        }
        if (fn == u"convert") {
            auto e = node(Expr::Kind::Cast, t.line);
            e->type = typeName();
            expect(",");
            e->args.push_back(expression());
            if (accept(",")) {
                if (peek().kind != K::Integer)
                    fail(peek());
                e->style = integerValue(take());
            }
            expect(")");
            return e;
        }
        bool aggregate = fn == u"count" || fn == u"count_big" || fn == u"sum" || fn == u"max" ||
                         fn == u"min" || fn == u"avg";
        auto e = node(aggregate ? Expr::Kind::Aggregate : Expr::Kind::Function, t.line);
        e->name = fn;
        if (aggregate && (fn == u"count" || fn == u"count_big") && accept("*")) {
            expect(")");
            return e;
        }
        if (!at(")")) {
            do
                e->args.push_back(expression());
            while (accept(","));
        }
        expect(")");
        if (aggregate && e->args.size() != 1)
            fail(last_);
        return e;
    }

    static constexpr std::size_t kLookahead = 4;

    Lexer lex_;
    bool qi_;
    std::array<Token, kLookahead> ahead_;
    std::size_t head_ = 0, count_ = 0;
    Token last_;
    int depth_ = 0;
    std::shared_ptr<const ObjectName> lastInsertTarget_;
};

}  // namespace

std::variant<ParsedBatch, ParseError> parseBatch(std::u16string_view text, bool quotedIdentifier) {
    Parser p(text, quotedIdentifier);
    try {
        return p.batch();
    } catch (const Failure& f) {
        return f.error;
    }
}

}  // namespace standin
