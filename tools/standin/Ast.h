#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Values.h"

namespace standin {

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Expr {
    enum class Kind {
        Literal,
        Column,     // parts: qualifiers then the column name
        Variable,   // name: "@x", folded
        Global,     // name: "@@x", folded
        Function,   // name folded; args
        Aggregate,  // name folded; args (empty for COUNT(*))
        Cast,       // args[0] to `type`; `style` for CONVERT
        Negate,
        Arith,    // op: + - * / %
        Compare,  // op: = < > l (<=) g (>=) n (<>)
        And,
        Or,
        Not,
        IsNull,  // negated: IS NOT NULL
        InList,  // args[0] IN (args[1..]); negated: NOT IN
    };
    Kind kind = Kind::Literal;
    std::int32_t line = 1;
    Value value;
    TypeInfo type;  // literal type, CAST target; after binding, the result type
    std::vector<std::u16string> parts;
    std::u16string name;
    char16_t op = 0;
    bool negated = false;
    int style = 0;
    std::vector<ExprPtr> args;
    int slot = -1;  // bound column position
};

// A table name as written: up to database.schema.name (empty parts allowed,
// as in db..name), plus its text for messages.
struct ObjectName {
    std::u16string database, schema, name;
    std::u16string written;
};

struct SelectStmt;

struct TableRef {
    ObjectName object;
    std::unique_ptr<SelectStmt> derived;
    std::u16string alias;
    std::int32_t line = 1;
};

struct SelectItem {
    ExprPtr expr;  // null for * and alias.*
    std::u16string alias;
    bool hasAlias = false;
    std::u16string starQualifier;
};

struct Join {
    TableRef table;
    ExprPtr on;
};

struct QuerySpec {
    ExprPtr top;
    std::vector<SelectItem> items;
    std::optional<TableRef> from;
    std::vector<Join> joins;
    ExprPtr where;
    std::vector<ExprPtr> groupBy;
};

struct OrderItem {
    ExprPtr expr;
    bool descending = false;
};

// SELECT ... [UNION ALL SELECT ...] [ORDER BY ...]
struct SelectStmt {
    std::vector<QuerySpec> parts;
    std::vector<OrderItem> orderBy;
};

namespace stmt {
struct Select {
    SelectStmt query;
};
struct Insert {
    // Shared by consecutive INSERTs into one table, as in generated data
    // scripts, whose batches can hold hundreds of thousands of them.
    std::shared_ptr<const ObjectName> target;
    std::uint64_t valueRows = 0;         // rows of VALUES (...), (...)
    std::unique_ptr<SelectStmt> select;  // INSERT ... SELECT
};
struct CreateDatabase {
    std::u16string name;
};
struct DropDatabase {
    std::vector<std::u16string> names;
    bool ifExists = false;
};
struct CreateTable {
    std::unique_ptr<ObjectName> name;  // boxed: keeps every Statement small
};
struct DropTable {
    std::vector<ObjectName> names;
    bool ifExists = false;
};
struct TruncateTable {
    std::unique_ptr<ObjectName> name;
};
struct Use {
    std::u16string database;
};
struct SetOptions {
    std::vector<std::u16string> options;  // folded
    bool on = false;
};
struct Print {
    ExprPtr text;
};
struct RaiseError {
    ExprPtr message, severity, state;
    std::vector<ExprPtr> args;
    bool withLog = false;
};
struct Transaction {
    enum class Op { Begin, Commit, Rollback, Save } op;
};
// Accepted and run without effect (DDL this server does not model).
struct NoEffect {};
}  // namespace stmt

struct Statement {
    using Body = std::variant<stmt::Select, stmt::Insert, stmt::CreateDatabase, stmt::DropDatabase,
                              stmt::CreateTable, stmt::DropTable, stmt::TruncateTable, stmt::Use,
                              stmt::SetOptions, stmt::Print, stmt::RaiseError, stmt::Transaction,
                              stmt::NoEffect>;
    std::int32_t line = 1;
    Body body;
};

}  // namespace standin
