#include "Query.h"

#include <algorithm>
#include <map>
#include <unordered_map>

namespace standin {
namespace {

using Kind = Expr::Kind;

SqlError error(std::int32_t number, std::u16string text) {
    return SqlError{number, 16, std::move(text)};
}

// Joins that would hold more rows, or compare more pairs, are refused
// rather than left to exhaust the server's memory or time.
constexpr std::size_t kMaxJoinRows = 2'000'000;
constexpr std::size_t kMaxJoinPairs = 50'000'000;

SqlError tooLarge() {
    return error(50000, u"quill-standin refuses this join: it is too large for a stand-in.");
}

std::u16string joined(const std::vector<std::u16string>& parts) {
    std::u16string s;
    for (std::size_t i = 0; i < parts.size(); ++i)
        s += (i ? u"." : u"") + parts[i];
    return s;
}

bool truthy(const Value& v) {
    return !isNull(v) && std::get<std::int64_t>(v) != 0;
}

Value boolean(bool b) {
    return Value{std::int64_t{b}};
}

struct Scope {
    struct Source {
        std::u16string alias;
        std::vector<Column> columns;
        int offset;
    };
    std::vector<Source> sources;
    int width() const {
        return sources.empty()
                   ? 0
                   : sources.back().offset + static_cast<int>(sources.back().columns.size());
    }
};

// The row (or group of rows) an expression is evaluated against.
struct RowContext {
    const Row* row = nullptr;
    const std::vector<const Row*>* group = nullptr;
};

bool isPredicate(const Expr& e) {
    switch (e.kind) {
        case Kind::Compare:
        case Kind::And:
        case Kind::Or:
        case Kind::Not:
        case Kind::IsNull:
        case Kind::InList:
            return true;
        default:
            return false;
    }
}

SqlError notBoolean() {
    return error(
        4145,
        u"An expression of non-boolean type specified in a context where a condition is expected.");
}

bool containsAggregate(const Expr& e) {
    if (e.kind == Kind::Aggregate)
        return true;
    return std::any_of(e.args.begin(), e.args.end(),
                       [](const ExprPtr& a) { return containsAggregate(*a); });
}

class Evaluator {
public:
    Evaluator(QueryEnv& env, const Scope& scope) : env_(env), scope_(scope) {}

    // Resolves names and works out the type of every node.
    std::optional<SqlError> bind(Expr& e, bool aggregatesAllowed) {
        for (auto& a : e.args) {
            bool inner = aggregatesAllowed && e.kind != Kind::Aggregate;
            if (e.kind == Kind::Aggregate && containsAggregate(*a))
                return error(130,
                             u"Cannot perform an aggregate function on an expression containing an "
                             u"aggregate or a subquery.");
            if (auto err = bind(*a, inner))
                return err;
        }
        switch (e.kind) {
            case Kind::Literal:
                return std::nullopt;
            case Kind::Column:
                return bindColumn(e);
            case Kind::Variable:
            case Kind::Global: {
                auto v = env_.variable(e.name);
                if (!v)
                    return error(137, u"Must declare the scalar variable \"" + e.name + u"\".");
                e.value = v->value;
                e.type = v->type;
                return std::nullopt;
            }
            case Kind::Function:
                return bindFunction(e);
            case Kind::Aggregate: {
                if (!aggregatesAllowed)
                    return error(
                        147,
                        u"An aggregate may not appear in the WHERE clause unless it is in a "
                        u"subquery "
                        u"contained in a HAVING clause or a select list, and the column being "
                        u"aggregated is an outer reference.");
                if (e.name == u"count")
                    e.type = TypeInfo::of(SqlType::Int);
                else if (e.name == u"count_big")
                    e.type = TypeInfo::of(SqlType::BigInt);
                else if (e.name == u"max" || e.name == u"min")
                    e.type = e.args[0]->type;
                else
                    return bindSum(e);
                return std::nullopt;
            }
            case Kind::Cast:
                return std::nullopt;
            case Kind::Negate:
                e.type = e.args[0]->type;
                if (!e.type.isNumeric())
                    return invalidOperand(e.type, u"minus");
                return std::nullopt;
            case Kind::Arith:
                return bindArith(e);
            case Kind::And:
            case Kind::Or:
            case Kind::Not:
                for (auto& a : e.args)
                    if (!isPredicate(*a))
                        return notBoolean();
                [[fallthrough]];
            case Kind::Compare:
            case Kind::IsNull:
            case Kind::InList:
                e.type = TypeInfo::of(SqlType::Bit);
                return std::nullopt;
        }
        return std::nullopt;
    }

    std::optional<SqlError> bindCondition(Expr& e) {
        if (!isPredicate(e))
            return notBoolean();
        return bind(e, false);
    }

    Result<Value> eval(const Expr& e, const RowContext& ctx) {
        switch (e.kind) {
            case Kind::Literal:
            case Kind::Variable:
            case Kind::Global:
                return e.value;
            case Kind::Column:
                if (ctx.group)
                    return ctx.group->empty()
                               ? Value{}
                               : (*(*ctx.group)[0])[static_cast<std::size_t>(e.slot)];
                return (*ctx.row)[static_cast<std::size_t>(e.slot)];
            case Kind::Function:
                return evalFunction(e, ctx);
            case Kind::Aggregate:
                return evalAggregate(e, ctx);
            case Kind::Cast: {
                auto v = eval(*e.args[0], ctx);
                if (auto* err = std::get_if<SqlError>(&v))
                    return *err;
                const TypeInfo& from = e.args[0]->type;
                if (e.style != 0 && from.type == SqlType::DateTime &&
                    e.type.type == SqlType::NVarChar && !isNull(std::get<Value>(v)))
                    return convert(
                        Value{formatDateTime(std::get<DateTime>(std::get<Value>(v)), e.style)},
                        TypeInfo::text(TypeInfo::kMaxLength), e.type);
                return convert(std::get<Value>(v), from, e.type);
            }
            case Kind::Negate:
                return evalNegate(e, ctx);
            case Kind::Arith:
                return evalArith(e, ctx);
            case Kind::Compare: {
                auto a = eval(*e.args[0], ctx);
                if (auto* err = std::get_if<SqlError>(&a))
                    return *err;
                auto b = eval(*e.args[1], ctx);
                if (auto* err = std::get_if<SqlError>(&b))
                    return *err;
                auto c = compare(std::get<Value>(a), e.args[0]->type, std::get<Value>(b),
                                 e.args[1]->type);
                if (auto* err = std::get_if<SqlError>(&c))
                    return *err;
                auto r = std::get<std::optional<int>>(c);
                if (!r)
                    return Value{};
                switch (e.op) {
                    case u'=':
                        return boolean(*r == 0);
                    case u'<':
                        return boolean(*r < 0);
                    case u'>':
                        return boolean(*r > 0);
                    case u'l':
                        return boolean(*r <= 0);
                    case u'g':
                        return boolean(*r >= 0);
                    default:
                        return boolean(*r != 0);
                }
            }
            case Kind::And:
            case Kind::Or: {
                auto a = eval(*e.args[0], ctx);
                if (auto* err = std::get_if<SqlError>(&a))
                    return *err;
                const Value& x = std::get<Value>(a);
                bool isAnd = e.kind == Kind::And;
                if (!isNull(x) && truthy(x) != isAnd)
                    return boolean(!isAnd);  // short cut
                auto b = eval(*e.args[1], ctx);
                if (auto* err = std::get_if<SqlError>(&b))
                    return *err;
                const Value& y = std::get<Value>(b);
                if (!isNull(y) && truthy(y) != isAnd)
                    return boolean(!isAnd);
                if (isNull(x) || isNull(y))
                    return Value{};
                return boolean(isAnd);
            }
            case Kind::Not: {
                auto a = eval(*e.args[0], ctx);
                if (auto* err = std::get_if<SqlError>(&a))
                    return *err;
                if (isNull(std::get<Value>(a)))
                    return Value{};
                return boolean(!truthy(std::get<Value>(a)));
            }
            case Kind::IsNull: {
                auto a = eval(*e.args[0], ctx);
                if (auto* err = std::get_if<SqlError>(&a))
                    return *err;
                return boolean(isNull(std::get<Value>(a)) != e.negated);
            }
            case Kind::InList:
                return evalIn(e, ctx);
        }
        return Value{};
    }

private:
    static SqlError invalidOperand(const TypeInfo& t, std::u16string_view op) {
        return error(8117, u"Operand data type " + typeName(t) + u" is invalid for " +
                               std::u16string(op) + u" operator.");
    }

    std::optional<SqlError> bindColumn(Expr& e) {
        const std::u16string& col = e.parts.back();
        std::optional<std::u16string> qualifier;
        if (e.parts.size() >= 2)
            qualifier = e.parts[e.parts.size() - 2];
        int found = -1;
        for (const auto& src : scope_.sources) {
            if (qualifier && !equalsIgnoreCase(src.alias, *qualifier))
                continue;
            for (std::size_t i = 0; i < src.columns.size(); ++i) {
                if (!equalsIgnoreCase(src.columns[i].name, col))
                    continue;
                if (found >= 0)
                    return error(209, u"Ambiguous column name '" + col + u"'.");
                found = src.offset + static_cast<int>(i);
                e.type = src.columns[i].type;
            }
        }
        if (found >= 0) {
            e.slot = found;
            return std::nullopt;
        }
        if (qualifier)
            return error(4104, u"The multi-part identifier \"" + joined(e.parts) +
                                   u"\" could not be bound.");
        return error(207, u"Invalid column name '" + col + u"'.");
    }

    std::optional<SqlError> bindFunction(Expr& e) {
        auto arity = [&](std::size_t n) -> std::optional<SqlError> {
            if (e.args.size() == n)
                return std::nullopt;
            return error(174, u"The " + e.name + u" function requires " +
                                  fromUtf8(std::to_string(n)) + u" argument(s).");
        };
        if (e.name == u"getdate") {
            e.type = TypeInfo::of(SqlType::DateTime);
            e.value = dateTimeNow();
            return arity(0);
        }
        if (e.name == u"db_name") {
            e.type = TypeInfo::text(128);
            e.value = env_.currentDatabase();
            return arity(0);
        }
        if (e.name == u"isnull") {
            if (auto err = arity(2))
                return err;
            // A bare NULL has no type of its own; the replacement's is used.
            const Expr& first = *e.args[0];
            bool bareNull = first.kind == Kind::Literal && isNull(first.value);
            e.type = bareNull ? e.args[1]->type : first.type;
            return std::nullopt;
        }
        if (e.name == u"len") {
            e.type = TypeInfo::of(SqlType::Int);
            return arity(1);
        }
        return SqlError{195, 15, u"'" + e.name + u"' is not a recognized built-in function name."};
    }

    std::optional<SqlError> bindSum(Expr& e) {
        const TypeInfo& t = e.args[0]->type;
        switch (t.type) {
            case SqlType::Bit:
            case SqlType::NVarChar:
            case SqlType::VarBinary:
            case SqlType::DateTime:
                return invalidOperand(t, e.name == u"avg" ? u"avg" : u"sum");
            case SqlType::BigInt:
                e.type = t;
                break;
            case SqlType::Decimal:
                e.type =
                    TypeInfo::decimal(38, e.name == u"avg" ? std::max<int>(6, t.scale) : t.scale);
                break;
            case SqlType::Float:
                e.type = t;
                break;
            default:
                e.type = TypeInfo::of(SqlType::Int);
                break;
        }
        return std::nullopt;
    }

    std::optional<SqlError> bindArith(Expr& e) {
        const TypeInfo& a = e.args[0]->type;
        const TypeInfo& b = e.args[1]->type;
        if (e.op == u'+' && a.type == SqlType::NVarChar && b.type == SqlType::NVarChar) {
            bool max = a.length == TypeInfo::kMaxLength || b.length == TypeInfo::kMaxLength ||
                       a.length + b.length > 4000;
            e.type = TypeInfo::text(max ? TypeInfo::kMaxLength : a.length + b.length);
            return std::nullopt;
        }
        TypeInfo t = commonType(a, b);
        if (!t.isNumeric())
            return invalidOperand(t, e.op == u'+' ? u"add" : u"arithmetic");
        if (t.type == SqlType::Decimal || (t.type == SqlType::Float && e.op == u'%')) {
            if (e.op == u'%')
                return invalidOperand(t, u"modulo");
            t = TypeInfo::of(SqlType::Float);
        }
        if (t.type == SqlType::Bit)
            t = TypeInfo::of(SqlType::Int);
        e.type = t;
        return std::nullopt;
    }

    Result<std::optional<int>> compare(const Value& a, const TypeInfo& ta, const Value& b,
                                       const TypeInfo& tb) {
        if (isNull(a) || isNull(b))
            return std::optional<int>{};
        TypeInfo t = commonType(ta, tb);
        auto x = convert(a, ta, t);
        if (auto* err = std::get_if<SqlError>(&x))
            return *err;
        auto y = convert(b, tb, t);
        if (auto* err = std::get_if<SqlError>(&y))
            return *err;
        return std::optional<int>{compareValues(std::get<Value>(x), std::get<Value>(y), t)};
    }

    Result<Value> evalFunction(const Expr& e, const RowContext& ctx) {
        if (e.name == u"getdate" || e.name == u"db_name")
            return e.value;
        auto a = eval(*e.args[0], ctx);
        if (auto* err = std::get_if<SqlError>(&a))
            return *err;
        if (e.name == u"len") {
            const Value& v = std::get<Value>(a);
            if (isNull(v))
                return Value{};
            std::u16string s = toText(v, e.args[0]->type);
            while (!s.empty() && s.back() == u' ')
                s.pop_back();
            return Value{static_cast<std::int64_t>(s.size())};
        }
        // isnull
        if (!isNull(std::get<Value>(a)))
            return convert(std::get<Value>(a), e.args[0]->type, e.type);
        auto b = eval(*e.args[1], ctx);
        if (auto* err = std::get_if<SqlError>(&b))
            return *err;
        return convert(std::get<Value>(b), e.args[1]->type, e.type);
    }

    Result<Value> evalAggregate(const Expr& e, const RowContext& ctx) {
        std::vector<const Row*> single;
        const std::vector<const Row*>* rows = ctx.group;
        if (!rows) {
            single.push_back(ctx.row);
            rows = &single;
        }
        if (e.args.empty())
            return countResult(e, static_cast<std::int64_t>(rows->size()));
        const Expr& arg = *e.args[0];
        std::int64_t count = 0;
        Value best;
        __int128 total = 0;
        double ftotal = 0;
        for (const Row* r : *rows) {
            auto v = eval(arg, RowContext{r, nullptr});
            if (auto* err = std::get_if<SqlError>(&v))
                return *err;
            const Value& x = std::get<Value>(v);
            if (isNull(x))
                continue;
            ++count;
            if (e.name == u"max" || e.name == u"min") {
                int c = isNull(best) ? 0 : compareValues(x, best, arg.type);
                if (isNull(best) || (e.name == u"max" ? c > 0 : c < 0))
                    best = x;
            } else if (arg.type.type == SqlType::Float) {
                ftotal += std::get<double>(x);
            } else if (arg.type.type == SqlType::Decimal) {
                total += std::get<Decimal>(x).unscaled;
            } else if (arg.type.isInteger()) {
                total += std::get<std::int64_t>(x);
            }
        }
        if (e.name == u"count" || e.name == u"count_big")
            return countResult(e, count);
        if (e.name == u"max" || e.name == u"min")
            return best;
        if (count == 0)
            return Value{};
        bool avg = e.name == u"avg";
        if (e.type.type == SqlType::Float)
            return Value{avg ? ftotal / static_cast<double>(count) : ftotal};
        if (e.type.type == SqlType::Decimal) {
            Decimal d{total, arg.type.scale};
            if (avg) {
                TypeInfo wide = TypeInfo::decimal(38, e.type.scale);
                auto scaled = convert(Value{d}, TypeInfo::decimal(38, arg.type.scale), wide);
                if (auto* err = std::get_if<SqlError>(&scaled))
                    return *err;
                d = std::get<Decimal>(std::get<Value>(scaled));
                d.unscaled /= count;
            }
            return convert(Value{d}, TypeInfo::decimal(38, d.scale), e.type);
        }
        if (avg)
            total /= count;
        if (total < INT64_MIN || total > INT64_MAX)
            return error(8115, u"Arithmetic overflow error converting expression to data type " +
                                   typeName(e.type) + u".");
        return convert(Value{static_cast<std::int64_t>(total)}, TypeInfo::of(SqlType::BigInt),
                       e.type);
    }

    Result<Value> countResult(const Expr& e, std::int64_t n) {
        return convert(Value{n}, TypeInfo::of(SqlType::BigInt), e.type);
    }

    Result<Value> evalNegate(const Expr& e, const RowContext& ctx) {
        auto a = eval(*e.args[0], ctx);
        if (auto* err = std::get_if<SqlError>(&a))
            return *err;
        const Value& v = std::get<Value>(a);
        if (isNull(v))
            return v;
        switch (e.type.type) {
            case SqlType::Float:
                return Value{-std::get<double>(v)};
            case SqlType::Decimal:
                return Value{Decimal{-std::get<Decimal>(v).unscaled, std::get<Decimal>(v).scale}};
            default:
                return convert(Value{-std::get<std::int64_t>(v)}, TypeInfo::of(SqlType::BigInt),
                               e.type);
        }
    }

    Result<Value> evalArith(const Expr& e, const RowContext& ctx) {
        auto a = eval(*e.args[0], ctx);
        if (auto* err = std::get_if<SqlError>(&a))
            return *err;
        auto b = eval(*e.args[1], ctx);
        if (auto* err = std::get_if<SqlError>(&b))
            return *err;
        if (isNull(std::get<Value>(a)) || isNull(std::get<Value>(b)))
            return Value{};
        if (e.type.type == SqlType::NVarChar)
            return Value{std::get<std::u16string>(std::get<Value>(a)) +
                         std::get<std::u16string>(std::get<Value>(b))};
        auto x = convert(std::get<Value>(a), e.args[0]->type, e.type);
        if (auto* err = std::get_if<SqlError>(&x))
            return *err;
        auto y = convert(std::get<Value>(b), e.args[1]->type, e.type);
        if (auto* err = std::get_if<SqlError>(&y))
            return *err;
        if (e.type.type == SqlType::Float) {
            double p = std::get<double>(std::get<Value>(x)),
                   q = std::get<double>(std::get<Value>(y));
            if (e.op == u'/' && q == 0)
                return error(8134, u"Divide by zero error encountered.");
            return Value{e.op == u'+'   ? p + q
                         : e.op == u'-' ? p - q
                         : e.op == u'*' ? p * q
                                        : p / q};
        }
        __int128 p = std::get<std::int64_t>(std::get<Value>(x)),
                 q = std::get<std::int64_t>(std::get<Value>(y));
        if ((e.op == u'/' || e.op == u'%') && q == 0)
            return error(8134, u"Divide by zero error encountered.");
        __int128 r = e.op == u'+'   ? p + q
                     : e.op == u'-' ? p - q
                     : e.op == u'*' ? p * q
                     : e.op == u'/' ? p / q
                                    : p % q;
        if (r < INT64_MIN || r > INT64_MAX)
            return error(8115, u"Arithmetic overflow error converting expression to data type " +
                                   typeName(e.type) + u".");
        return convert(Value{static_cast<std::int64_t>(r)}, TypeInfo::of(SqlType::BigInt), e.type);
    }

    Result<Value> evalIn(const Expr& e, const RowContext& ctx) {
        auto a = eval(*e.args[0], ctx);
        if (auto* err = std::get_if<SqlError>(&a))
            return *err;
        bool unknown = false;
        for (std::size_t i = 1; i < e.args.size(); ++i) {
            auto b = eval(*e.args[i], ctx);
            if (auto* err = std::get_if<SqlError>(&b))
                return *err;
            auto c =
                compare(std::get<Value>(a), e.args[0]->type, std::get<Value>(b), e.args[i]->type);
            if (auto* err = std::get_if<SqlError>(&c))
                return *err;
            auto r = std::get<std::optional<int>>(c);
            if (!r)
                unknown = true;
            else if (*r == 0)
                return boolean(!e.negated);
        }
        if (unknown)
            return Value{};
        return boolean(e.negated);
    }

    QueryEnv& env_;
    const Scope& scope_;
};

// One output column of a SELECT block: an expression, or a column
// taken straight from the sources (SELECT *).
struct Projection {
    Expr* expr = nullptr;
    int slot = -1;
    Column column;
    bool nullLiteral = false;
};

struct SpecResult {
    ResultSet rs;
    std::vector<bool> nullLiteral;  // columns that are a bare NULL (typeless for UNION)
};

class SpecRunner {
public:
    SpecRunner(QuerySpec& q, QueryEnv& env) : q_(q), env_(env) {}

    // Runs the block; `order` (statements of one block only)
    // is applied before TOP, as the server does.
    Result<SpecResult> run(std::vector<OrderItem>* order) {
        std::vector<Row> rows;
        if (auto err = loadSources(rows))
            return *err;
        if (countOnly_)
            return countOnlyResult();
        Evaluator ev(env_, scope_);

        bool grouped = !q_.groupBy.empty();
        for (auto& item : q_.items)
            grouped = grouped || (item.expr && containsAggregate(*item.expr));
        if (order)
            for (auto& o : *order)
                grouped = grouped || containsAggregate(*o.expr);

        if (q_.where) {
            if (auto err = ev.bindCondition(*q_.where))
                return *err;
            std::vector<Row> kept;
            for (auto& r : rows) {
                auto v = ev.eval(*q_.where, RowContext{&r, nullptr});
                if (auto* err = std::get_if<SqlError>(&v))
                    return *err;
                if (truthy(std::get<Value>(v)))
                    kept.push_back(std::move(r));
            }
            rows = std::move(kept);
        }

        std::vector<Projection> out;
        if (auto err = project(ev, out))
            return *err;
        // ORDER BY items that name an output column sort by it; others are
        // computed as hidden extra columns.
        std::vector<std::pair<int, bool>> keys;  // column, descending
        std::vector<Expr*> hidden;
        if (order) {
            for (auto& o : *order) {
                int col = outputColumn(*o.expr, out);
                if (col < 0) {
                    if (auto err = ev.bind(*o.expr, true))
                        return *err;
                    col = static_cast<int>(out.size() + hidden.size());
                    hidden.push_back(o.expr.get());
                }
                keys.emplace_back(col, o.descending);
            }
        }
        for (auto& g : q_.groupBy)
            if (auto err = ev.bind(*g, false))
                return *err;

        SpecResult result;
        for (const auto& p : out) {
            result.rs.columns.push_back(p.column);
            result.nullLiteral.push_back(p.nullLiteral);
        }
        auto emit = [&](const RowContext& ctx) -> std::optional<SqlError> {
            Row r;
            r.reserve(out.size() + hidden.size());
            for (const auto& p : out) {
                if (!p.expr) {
                    r.push_back(ctx.group
                                    ? (ctx.group->empty()
                                           ? Value{}
                                           : (*(*ctx.group)[0])[static_cast<std::size_t>(p.slot)])
                                    : (*ctx.row)[static_cast<std::size_t>(p.slot)]);
                    continue;
                }
                auto v = ev.eval(*p.expr, ctx);
                if (auto* err = std::get_if<SqlError>(&v))
                    return *err;
                r.push_back(std::move(std::get<Value>(v)));
            }
            for (Expr* h : hidden) {
                auto v = ev.eval(*h, ctx);
                if (auto* err = std::get_if<SqlError>(&v))
                    return *err;
                r.push_back(std::move(std::get<Value>(v)));
            }
            result.rs.rows.push_back(std::move(r));
            return std::nullopt;
        };

        if (!grouped) {
            for (const auto& r : rows)
                if (auto err = emit(RowContext{&r, nullptr}))
                    return *err;
        } else {
            std::vector<std::vector<const Row*>> groups;
            if (q_.groupBy.empty()) {
                groups.emplace_back();
                for (const auto& r : rows)
                    groups[0].push_back(&r);
            } else if (auto err = group(ev, rows, groups)) {
                return *err;
            }
            for (const auto& g : groups)
                if (auto err = emit(RowContext{nullptr, &g}))
                    return *err;
        }

        std::vector<TypeInfo> keyTypes;
        for (auto [col, desc] : keys)
            keyTypes.push_back(col < static_cast<int>(out.size())
                                   ? out[static_cast<std::size_t>(col)].column.type
                                   : hidden[static_cast<std::size_t>(col) - out.size()]->type);
        if (!keys.empty())
            sortRows(result.rs.rows, keys, keyTypes);
        if (q_.top) {
            auto n = topCount();
            if (auto* err = std::get_if<SqlError>(&n))
                return *err;
            auto limit = static_cast<std::size_t>(std::get<std::int64_t>(n));
            if (result.rs.rows.size() > limit)
                result.rs.rows.resize(limit);
        }
        for (auto& r : result.rs.rows)
            r.resize(out.size());
        return result;
    }

    static void sortRows(std::vector<Row>& rows, const std::vector<std::pair<int, bool>>& keys,
                         const std::vector<TypeInfo>& types) {
        std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
            for (std::size_t k = 0; k < keys.size(); ++k) {
                const Value& x = a[static_cast<std::size_t>(keys[k].first)];
                const Value& y = b[static_cast<std::size_t>(keys[k].first)];
                int c = isNull(x)   ? (isNull(y) ? 0 : -1)
                        : isNull(y) ? 1
                                    : compareValues(x, y, types[k]);
                if (c != 0)
                    return keys[k].second ? c > 0 : c < 0;
            }
            return false;
        });
    }

private:
    std::optional<SqlError> addSource(TableRef& ref, std::vector<Row>& rows, Expr* on) {
        TableSource src;
        if (ref.derived) {
            auto r = runSelect(*ref.derived, env_);
            if (auto* err = std::get_if<SqlError>(&r))
                return *err;
            src.rows = std::move(std::get<ResultSet>(r));
        } else {
            auto t = env_.table(ref.object);
            if (auto* err = std::get_if<SqlError>(&t))
                return *err;
            src = std::move(std::get<TableSource>(t));
        }
        if (src.countOnly) {
            if (!scope_.sources.empty() || on)
                return noRowData(ref);
            countOnly_ = src.countOnly;
            return std::nullopt;
        }
        if (countOnly_)
            return noRowData(ref);
        int leftWidth = scope_.width();
        scope_.sources.push_back({ref.alias, src.rows.columns, leftWidth});
        if (!on) {
            rows = std::move(src.rows.rows);
            return std::nullopt;
        }
        Evaluator ev(env_, scope_);
        if (auto err = ev.bindCondition(*on))
            return err;
        std::vector<Row> joined;
        auto combine = [&](const Row& l, const Row& r) {
            Row c = l;
            c.insert(c.end(), r.begin(), r.end());
            return c;
        };
        // An equality of two integer columns, one from each side, joins by hash.
        if (on->kind == Kind::Compare && on->op == u'=' && on->args[0]->kind == Kind::Column &&
            on->args[1]->kind == Kind::Column && on->args[0]->type.isInteger() &&
            on->args[1]->type.isInteger() &&
            (on->args[0]->slot < leftWidth) != (on->args[1]->slot < leftWidth)) {
            int ls = on->args[0]->slot < leftWidth ? on->args[0]->slot : on->args[1]->slot;
            int rs =
                (on->args[0]->slot < leftWidth ? on->args[1]->slot : on->args[0]->slot) - leftWidth;
            std::unordered_multimap<std::int64_t, const Row*> byKey;
            for (const auto& r : src.rows.rows)
                if (!isNull(r[static_cast<std::size_t>(rs)]))
                    byKey.emplace(std::get<std::int64_t>(r[static_cast<std::size_t>(rs)]), &r);
            for (const auto& l : rows) {
                const Value& k = l[static_cast<std::size_t>(ls)];
                if (isNull(k))
                    continue;
                auto [b, e] = byKey.equal_range(std::get<std::int64_t>(k));
                std::vector<const Row*> matches;
                for (auto it = b; it != e; ++it)
                    matches.push_back(it->second);
                // Keep the right side's order for matches of one left row.
                std::sort(matches.begin(), matches.end());
                if (joined.size() + matches.size() > kMaxJoinRows)
                    return tooLarge();
                for (const Row* r : matches)
                    joined.push_back(combine(l, *r));
            }
        } else {
            if (rows.size() * src.rows.rows.size() > kMaxJoinPairs)
                return tooLarge();
            for (const auto& l : rows) {
                for (const auto& r : src.rows.rows) {
                    if (joined.size() >= kMaxJoinRows)
                        return tooLarge();
                    Row c = combine(l, r);
                    auto v = ev.eval(*on, RowContext{&c, nullptr});
                    if (auto* err = std::get_if<SqlError>(&v))
                        return *err;
                    if (truthy(std::get<Value>(v)))
                        joined.push_back(std::move(c));
                }
            }
        }
        rows = std::move(joined);
        return std::nullopt;
    }

    static SqlError noRowData(const TableRef& ref) {
        return error(50000,
                     u"quill-standin stores no row data: only COUNT(*) can be read from table '" +
                         ref.object.written + u"'.");
    }

    std::optional<SqlError> loadSources(std::vector<Row>& rows) {
        if (!q_.from) {
            rows.emplace_back();  // SELECT without FROM yields one row
            return std::nullopt;
        }
        if (auto err = addSource(*q_.from, rows, nullptr))
            return err;
        for (auto& j : q_.joins)
            if (auto err = addSource(j.table, rows, j.on.get()))
                return err;
        return std::nullopt;
    }

    // SELECT COUNT(*) FROM a user table: the only read of a user table.
    Result<SpecResult> countOnlyResult() {
        SpecResult result;
        Row row;
        for (auto& item : q_.items) {
            Expr* e = item.expr.get();
            bool count = e && e->kind == Kind::Aggregate &&
                         (e->name == u"count" || e->name == u"count_big") &&
                         (e->args.empty() || e->args[0]->kind == Kind::Literal);
            if (!count || q_.where || !q_.groupBy.empty())
                return noRowData(*q_.from);
            e->type = TypeInfo::of(e->name == u"count" ? SqlType::Int : SqlType::BigInt);
            auto v = convert(Value{*countOnly_}, TypeInfo::of(SqlType::BigInt), e->type);
            if (auto* err = std::get_if<SqlError>(&v))
                return *err;
            row.push_back(std::get<Value>(v));
            result.rs.columns.push_back({item.hasAlias ? item.alias : u"", e->type});
            result.nullLiteral.push_back(false);
        }
        result.rs.rows.push_back(std::move(row));
        if (q_.top) {
            auto n = topCount();
            if (auto* err = std::get_if<SqlError>(&n))
                return *err;
            if (std::get<std::int64_t>(n) == 0)
                result.rs.rows.clear();
        }
        return result;
    }

    std::optional<SqlError> project(Evaluator& ev, std::vector<Projection>& out) {
        for (auto& item : q_.items) {
            if (!item.expr) {
                bool any = false;
                for (const auto& src : scope_.sources) {
                    if (!item.starQualifier.empty() &&
                        !equalsIgnoreCase(src.alias, item.starQualifier))
                        continue;
                    any = true;
                    for (std::size_t i = 0; i < src.columns.size(); ++i)
                        out.push_back(
                            {nullptr, src.offset + static_cast<int>(i), src.columns[i], false});
                }
                if (!any && !item.starQualifier.empty())
                    return error(4104, u"The multi-part identifier \"" + item.starQualifier +
                                           u"\" could not be bound.");
                if (!any)
                    return error(263, u"Must specify table to select from.");
                continue;
            }
            if (auto err = ev.bind(*item.expr, true))
                return err;
            std::u16string name = item.hasAlias                     ? item.alias
                                  : item.expr->kind == Kind::Column ? item.expr->parts.back()
                                                                    : std::u16string();
            bool nullLiteral = item.expr->kind == Kind::Literal && isNull(item.expr->value);
            out.push_back({item.expr.get(), -1, Column{name, item.expr->type}, nullLiteral});
        }
        return std::nullopt;
    }

    static int outputColumn(const Expr& e, const std::vector<Projection>& out) {
        if (e.kind == Kind::Literal && std::holds_alternative<std::int64_t>(e.value) &&
            e.type.type == SqlType::Int) {
            auto n = std::get<std::int64_t>(e.value);
            return n >= 1 && n <= static_cast<std::int64_t>(out.size()) ? static_cast<int>(n - 1)
                                                                        : -1;
        }
        if (e.kind != Kind::Column || e.parts.size() != 1)
            return -1;
        for (std::size_t i = 0; i < out.size(); ++i)
            if (!out[i].column.name.empty() && equalsIgnoreCase(out[i].column.name, e.parts[0]))
                return static_cast<int>(i);
        return -1;
    }

    std::optional<SqlError> group(Evaluator& ev, const std::vector<Row>& rows,
                                  std::vector<std::vector<const Row*>>& groups) {
        std::vector<TypeInfo> types;
        for (auto& g : q_.groupBy)
            types.push_back(g->type);
        auto less = [&](const Row& a, const Row& b) {
            for (std::size_t k = 0; k < a.size(); ++k) {
                int c = isNull(a[k])   ? (isNull(b[k]) ? 0 : -1)
                        : isNull(b[k]) ? 1
                                       : compareValues(a[k], b[k], types[k]);
                if (c != 0)
                    return c < 0;
            }
            return false;
        };
        std::map<Row, std::size_t, decltype(less)> index(less);
        for (const auto& r : rows) {
            Row key;
            for (auto& g : q_.groupBy) {
                auto v = ev.eval(*g, RowContext{&r, nullptr});
                if (auto* err = std::get_if<SqlError>(&v))
                    return *err;
                key.push_back(std::move(std::get<Value>(v)));
            }
            auto [it, fresh] = index.emplace(std::move(key), groups.size());
            if (fresh)
                groups.emplace_back();
            groups[it->second].push_back(&r);
        }
        return std::nullopt;
    }

    // TOP takes a constant: it cannot see the row sources.
    Result<std::int64_t> topCount() {
        Scope none;
        Evaluator ev(env_, none);
        if (auto err = ev.bind(*q_.top, false))
            return *err;
        auto v = ev.eval(*q_.top, RowContext{});
        if (auto* err = std::get_if<SqlError>(&v))
            return *err;
        auto n = convert(std::get<Value>(v), q_.top->type, TypeInfo::of(SqlType::BigInt));
        if (auto* err = std::get_if<SqlError>(&n))
            return *err;
        const Value& x = std::get<Value>(n);
        if (isNull(x) || std::get<std::int64_t>(x) < 0)
            return error(1060, u"The number of rows in the TOP clause must be an integer.");
        return std::get<std::int64_t>(x);
    }

    QuerySpec& q_;
    QueryEnv& env_;
    Scope scope_;
    std::optional<std::int64_t> countOnly_;
};

}  // namespace

Result<ResultSet> runSelect(SelectStmt& q, QueryEnv& env) {
    if (q.parts.size() == 1) {
        auto r = SpecRunner(q.parts[0], env).run(q.orderBy.empty() ? nullptr : &q.orderBy);
        if (auto* err = std::get_if<SqlError>(&r))
            return *err;
        return std::move(std::get<SpecResult>(r).rs);
    }
    std::vector<SpecResult> parts;
    for (auto& block : q.parts) {
        auto r = SpecRunner(block, env).run(nullptr);
        if (auto* err = std::get_if<SqlError>(&r))
            return *err;
        parts.push_back(std::move(std::get<SpecResult>(r)));
    }
    ResultSet out;
    out.columns = parts[0].rs.columns;
    for (const auto& p : parts)
        if (p.rs.columns.size() != out.columns.size())
            return error(205,
                         u"All queries combined using a UNION, INTERSECT or EXCEPT operator must "
                         u"have an equal "
                         u"number of expressions in their target lists.");
    // Each column takes the type all parts share; a bare NULL has none.
    for (std::size_t c = 0; c < out.columns.size(); ++c) {
        std::optional<TypeInfo> t;
        for (const auto& p : parts)
            if (!p.nullLiteral[c])
                t = t ? commonType(*t, p.rs.columns[c].type) : p.rs.columns[c].type;
        out.columns[c].type = t.value_or(TypeInfo::of(SqlType::Int));
    }
    for (auto& p : parts) {
        for (auto& r : p.rs.rows) {
            for (std::size_t c = 0; c < r.size(); ++c) {
                auto v = convert(r[c], p.rs.columns[c].type, out.columns[c].type);
                if (auto* err = std::get_if<SqlError>(&v))
                    return *err;
                r[c] = std::move(std::get<Value>(v));
            }
            out.rows.push_back(std::move(r));
        }
    }
    if (!q.orderBy.empty()) {
        std::vector<std::pair<int, bool>> keys;
        std::vector<TypeInfo> types;
        for (auto& o : q.orderBy) {
            int col = -1;
            const Expr& e = *o.expr;
            if (e.kind == Kind::Literal && e.type.type == SqlType::Int && !isNull(e.value)) {
                auto n = std::get<std::int64_t>(e.value);
                if (n >= 1 && n <= static_cast<std::int64_t>(out.columns.size()))
                    col = static_cast<int>(n - 1);
            } else if (e.kind == Kind::Column && e.parts.size() == 1) {
                for (std::size_t i = 0; i < out.columns.size() && col < 0; ++i)
                    if (equalsIgnoreCase(out.columns[i].name, e.parts[0]))
                        col = static_cast<int>(i);
            }
            if (col < 0)
                return error(104,
                             u"ORDER BY items must appear in the select list if the statement "
                             u"contains a UNION, "
                             u"INTERSECT or EXCEPT operator.");
            keys.emplace_back(col, o.descending);
            types.push_back(out.columns[static_cast<std::size_t>(col)].type);
        }
        SpecRunner::sortRows(out.rows, keys, types);
    }
    return out;
}

Result<TypedValue> evaluateScalar(Expr& e, QueryEnv& env) {
    Scope none;
    Evaluator ev(env, none);
    if (auto err = ev.bind(e, false))
        return *err;
    Row empty;
    auto v = ev.eval(e, RowContext{&empty, nullptr});
    if (auto* err = std::get_if<SqlError>(&v))
        return *err;
    return TypedValue{std::move(std::get<Value>(v)), e.type};
}

}  // namespace standin
