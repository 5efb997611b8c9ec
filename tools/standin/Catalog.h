#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "Results.h"

namespace standin {

struct Table {
    std::u16string schema;
    std::u16string name;
    std::int64_t rows = 0;
    // Row counts of the table's index entries (sysindexes rows).
    std::vector<std::int64_t> indexRows;
    std::int32_t id = 0;
    DateTime created;
};

class Database {
public:
    Database(std::u16string name, std::int16_t id, bool system, DateTime created);

    const std::u16string& name() const { return name_; }
    std::int16_t id() const { return id_; }
    bool isSystem() const { return system_; }
    DateTime created() const { return created_; }
    const std::vector<Table>& tables() const { return tables_; }

    Table* findTable(std::u16string_view schema, std::u16string_view name);
    // Adds a table; indexRows empty means one index entry holding `rows`.
    Table& addTable(std::u16string schema, std::u16string name, std::int64_t rows,
                    std::vector<std::int64_t> indexRows, DateTime created);
    bool dropTable(std::u16string_view schema, std::u16string_view name);
    // Adds rows to a table and to each of its index entries.
    static void addRows(Table& t, std::int64_t n);

private:
    static std::u16string key(std::u16string_view schema, std::u16string_view name);

    std::u16string name_;
    std::int16_t id_;
    bool system_;
    DateTime created_;
    std::vector<Table> tables_;
    std::unordered_map<std::u16string, std::size_t> index_;
    std::int32_t nextObjectId_ = 1977058079;
};

// Databases, their tables and row counts. Names compare case-insensitively.
// master, tempdb, model and msdb always exist.
class Catalog {
public:
    Catalog();

    Database* find(std::u16string_view name);
    Database& create(std::u16string name);
    void drop(std::u16string_view name);
    const std::vector<Database>& databases() const { return databases_; }

    // The system tables a query can read, built from the catalog.
    ResultSet sysdatabases() const;
    static ResultSet sysobjects(const Database& db);
    static ResultSet sysindexes(const Database& db);

private:
    std::vector<Database> databases_;
};

struct ServerConfig {
    std::u16string login = u"sa";
    std::u16string password;
    std::u16string versionText;
    std::u16string serverName = u"STANDIN";
};

// What all connections share. The mutex guards the catalog and the map of
// each session's current database.
struct ServerState {
    explicit ServerState(ServerConfig c) : config(std::move(c)) {}

    const ServerConfig config;
    std::mutex mutex;
    Catalog catalog;
    std::unordered_map<int, std::u16string> sessionDatabase;

    // Whether some session's current database is `name`. Needs the mutex held.
    bool inUse(std::u16string_view name) const;
};

}  // namespace standin
