#pragma once

#include <optional>

#include "Ast.h"
#include "Results.h"

namespace standin {

struct TypedValue {
    Value value;
    TypeInfo type;
};

// A table a query reads: its rows, or, for a user table (whose rows are not
// stored), only its row count.
struct TableSource {
    ResultSet rows;
    std::optional<std::int64_t> countOnly;
};

// What a query needs from the server around it.
class QueryEnv {
public:
    virtual ~QueryEnv() = default;
    // The table a name stands for, or error 208.
    virtual Result<TableSource> table(const ObjectName& name) = 0;
    // A variable ("@x") or global ("@@x"), by folded name.
    virtual std::optional<TypedValue> variable(std::u16string_view foldedName) = 0;
    virtual std::u16string currentDatabase() = 0;
};

Result<ResultSet> runSelect(SelectStmt& q, QueryEnv& env);
// An expression outside any query (PRINT, RAISERROR arguments).
Result<TypedValue> evaluateScalar(Expr& e, QueryEnv& env);

}  // namespace standin
