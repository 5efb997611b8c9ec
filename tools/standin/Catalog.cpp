#include "Catalog.h"

#include <algorithm>

namespace standin {
namespace {

// System tables every database holds, with their row counts. They make
// sysobjects and sysindexes look like a real database's, where user tables
// are only part of what is listed.
struct SystemTable {
    const char16_t* name;
    std::int32_t id;
    std::int32_t rows;
};
constexpr SystemTable kSystemTables[] = {
    {u"sysrscols", 3, 1031},
    {u"sysrowsets", 5, 137},
    {u"sysallocunits", 7, 151},
};

std::int32_t clampToInt(std::int64_t v) {
    return static_cast<std::int32_t>(std::min<std::int64_t>(v, INT32_MAX));
}

Bytes saSid() {
    return Bytes{0x01};
}

}  // namespace

Database::Database(std::u16string name, std::int16_t id, bool system, DateTime created)
    : name_(std::move(name)), id_(id), system_(system), created_(created) {}

std::u16string Database::key(std::u16string_view schema, std::u16string_view name) {
    return foldCase(schema) + u'.' + foldCase(name);
}

Table* Database::findTable(std::u16string_view schema, std::u16string_view name) {
    auto it = index_.find(key(schema, name));
    return it == index_.end() ? nullptr : &tables_[it->second];
}

Table& Database::addTable(std::u16string schema, std::u16string name, std::int64_t rows,
                          std::vector<std::int64_t> indexRows, DateTime created) {
    if (indexRows.empty())
        indexRows.push_back(rows);
    index_.emplace(key(schema, name), tables_.size());
    tables_.push_back(Table{std::move(schema), std::move(name), rows, std::move(indexRows),
                            nextObjectId_, created});
    nextObjectId_ += 16;
    return tables_.back();
}

bool Database::dropTable(std::u16string_view schema, std::u16string_view name) {
    auto it = index_.find(key(schema, name));
    if (it == index_.end())
        return false;
    tables_.erase(tables_.begin() + static_cast<std::ptrdiff_t>(it->second));
    index_.clear();
    for (std::size_t i = 0; i < tables_.size(); ++i)
        index_.emplace(key(tables_[i].schema, tables_[i].name), i);
    return true;
}

void Database::addRows(Table& t, std::int64_t n) {
    t.rows += n;
    for (auto& r : t.indexRows)
        r += n;
}

Catalog::Catalog() {
    DateTime now = dateTimeNow();
    const char16_t* system[] = {u"master", u"tempdb", u"model", u"msdb"};
    for (std::int16_t i = 0; i < 4; ++i)
        databases_.emplace_back(system[i], static_cast<std::int16_t>(i + 1), true, now);
}

Database* Catalog::find(std::u16string_view name) {
    for (auto& db : databases_)
        if (equalsIgnoreCase(db.name(), name))
            return &db;
    return nullptr;
}

Database& Catalog::create(std::u16string name) {
    // Like the server, reuse the lowest free database id.
    std::int16_t id = 5;
    while (std::any_of(databases_.begin(), databases_.end(),
                       [&](const Database& d) { return d.id() == id; }))
        ++id;
    databases_.emplace_back(std::move(name), id, false, dateTimeNow());
    return databases_.back();
}

void Catalog::drop(std::u16string_view name) {
    std::erase_if(databases_, [&](const Database& d) { return equalsIgnoreCase(d.name(), name); });
}

ResultSet Catalog::sysdatabases() const {
    ResultSet rs;
    rs.columns = {
        {u"name", TypeInfo::text(128)},
        {u"dbid", TypeInfo::of(SqlType::SmallInt)},
        {u"sid", TypeInfo::binary(85)},
        {u"mode", TypeInfo::of(SqlType::SmallInt)},
        {u"status", TypeInfo::of(SqlType::Int)},
        {u"status2", TypeInfo::of(SqlType::Int)},
        {u"crdate", TypeInfo::of(SqlType::DateTime)},
        {u"reserved", TypeInfo::of(SqlType::DateTime)},
        {u"category", TypeInfo::of(SqlType::Int)},
        {u"cmptlevel", TypeInfo::of(SqlType::TinyInt)},
        {u"filename", TypeInfo::text(260)},
        {u"version", TypeInfo::of(SqlType::SmallInt)},
    };
    for (const auto& db : databases_) {
        std::u16string file = u"/var/opt/quill-standin/data/" + db.name() + u".mdf";
        rs.rows.push_back(Row{db.name(), std::int64_t{db.id()}, saSid(), std::int64_t{0},
                              std::int64_t{db.isSystem() ? 65544 : 65536}, std::int64_t{1090519040},
                              db.created(), DateTime{}, std::int64_t{0}, std::int64_t{100},
                              std::move(file), std::int64_t{661}});
    }
    return rs;
}

ResultSet Catalog::sysobjects(const Database& db) {
    ResultSet rs;
    rs.columns = {
        {u"name", TypeInfo::text(128)},
        {u"id", TypeInfo::of(SqlType::Int)},
        {u"xtype", TypeInfo::text(2)},
        {u"uid", TypeInfo::of(SqlType::SmallInt)},
        {u"parent_obj", TypeInfo::of(SqlType::Int)},
        {u"crdate", TypeInfo::of(SqlType::DateTime)},
        {u"type", TypeInfo::text(2)},
    };
    for (const auto& s : kSystemTables)
        rs.rows.push_back(Row{std::u16string(s.name), std::int64_t{s.id}, std::u16string(u"S"),
                              std::int64_t{4}, std::int64_t{0}, db.created(),
                              std::u16string(u"S")});
    for (const auto& t : db.tables())
        rs.rows.push_back(Row{t.name, std::int64_t{t.id}, std::u16string(u"U"), std::int64_t{1},
                              std::int64_t{0}, t.created, std::u16string(u"U")});
    return rs;
}

ResultSet Catalog::sysindexes(const Database& db) {
    ResultSet rs;
    rs.columns = {
        {u"id", TypeInfo::of(SqlType::Int)},
        {u"indid", TypeInfo::of(SqlType::SmallInt)},
        {u"name", TypeInfo::text(128)},
        {u"rows", TypeInfo::of(SqlType::Int)},
        {u"rowcnt", TypeInfo::of(SqlType::BigInt)},
    };
    for (const auto& s : kSystemTables)
        rs.rows.push_back(Row{std::int64_t{s.id}, std::int64_t{1}, std::u16string(u"clst"),
                              std::int64_t{s.rows}, std::int64_t{s.rows}});
    for (const auto& t : db.tables()) {
        // One entry: a heap (indid 0, no name). Several: a clustered index
        // (indid 1) and nonclustered ones.
        bool heap = t.indexRows.size() == 1;
        for (std::size_t k = 0; k < t.indexRows.size(); ++k) {
            Value name = heap     ? Value{}
                         : k == 0 ? Value{u"PK_" + t.name}
                                  : Value{u"IX_" + t.name + u"_" + fromUtf8(std::to_string(k))};
            std::int64_t rows = t.indexRows[k];
            rs.rows.push_back(Row{std::int64_t{t.id},
                                  std::int64_t{heap ? 0 : static_cast<std::int64_t>(k + 1)},
                                  std::move(name), std::int64_t{clampToInt(rows)}, rows});
        }
    }
    return rs;
}

bool ServerState::inUse(std::u16string_view name) const {
    return std::any_of(sessionDatabase.begin(), sessionDatabase.end(),
                       [&](const auto& s) { return equalsIgnoreCase(s.second, name); });
}

}  // namespace standin
