#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill::sqlcmd {

// A message from the server (or sqlcmd's own), as sqlcmd prints it.
struct ServerMessage {
    long number = 0;
    int severity = 0;
    int state = 0;
    std::string server;
    std::string procedure;
    long line = 0;
    std::string text;
};

// "Msg N, Level L, State S, Server X[, Procedure P], Line L\n<text>\n", or the
// text alone for informational messages unless `header` is asked for.
std::string formatMessage(const ServerMessage& m, bool header);

// "\n(N rows affected)\n", written into `buffer`.
using RowsAffectedBuffer = std::array<char, 48>;
std::string_view formatRowsAffected(long long rows, RowsAffectedBuffer& buffer);

// Characters (not bytes) in UTF-8 text.
std::size_t displayLength(std::string_view utf8);

struct ColumnFormat {
    std::string name;
    std::size_t width = 0;  // the type's display width
    bool rightAlign = false;
    bool unlimited = false;  // no display limit: values are never cut
};

struct TableOptions {
    std::string separator = " ";
    int headers = 0;  // -1 none; 0 once; n: again every n rows
    bool trimSpaces = false;
    int width = 0;  // wrap lines longer than this (0: never)
};

// Lays out result sets in sqlcmd's columns: names, dashes, then rows, each
// column as wide as the larger of its name and its type's display width.
class TableFormatter {
public:
    explicit TableFormatter(TableOptions options) : options_(std::move(options)) {}

    // Starts a result set; returns the heading lines.
    std::string begin(std::vector<ColumnFormat> columns);
    // One row; nullopt prints NULL.
    std::string row(const std::vector<std::optional<std::string>>& values);

private:
    std::string heading() const;
    std::string line(const std::vector<std::string>& cells) const;
    std::string wrap(std::string text) const;

    TableOptions options_;
    std::vector<ColumnFormat> columns_;
    long rows_ = 0;
};

}  // namespace quill::sqlcmd
