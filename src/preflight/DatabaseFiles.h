#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quill::preflight {

// A data-file path written into CREATE DATABASE or ALTER DATABASE.
struct DatabaseFile {
    std::string database;  // as written, without brackets or quotes
    std::string path;      // the literal's text, '' undone
    long line = 0;         // 1-based
};

// The FILENAME = '…' paths of the CREATE DATABASE and ALTER DATABASE
// statements in a batch of T-SQL (UTF-8), with their lines in it. Comments,
// quoted names and other literals are skipped, so a path only counts where
// the server would read it.
std::vector<DatabaseFile> findDatabaseFiles(std::string_view sql);

// Quick test whether a batch may hold such a statement at all.
bool mayNameDatabaseFiles(std::string_view sql);

}  // namespace quill::preflight
