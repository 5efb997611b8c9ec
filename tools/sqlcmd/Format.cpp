#include "Format.h"

#include <charconv>
#include <cstring>

namespace quill::sqlcmd {

std::string formatMessage(const ServerMessage& m, bool header) {
    if (!header) {
        return m.text + "\n";
    }
    std::string s = "Msg " + std::to_string(m.number) + ", Level " + std::to_string(m.severity) +
                    ", State " + std::to_string(m.state) + ", Server " + m.server;
    if (!m.procedure.empty()) {
        s += ", Procedure " + m.procedure;
    }
    s += ", Line " + std::to_string(m.line) + "\n" + m.text + "\n";
    return s;
}

std::string_view formatRowsAffected(long long rows, RowsAffectedBuffer& buffer) {
    // One line per statement of a data script: no allocation.
    char* p = buffer.data();
    *p++ = '\n';
    *p++ = '(';
    p = std::to_chars(p, buffer.data() + buffer.size(), rows).ptr;
    static constexpr std::string_view kTail = " rows affected)\n";
    std::memcpy(p, kTail.data(), kTail.size());
    return std::string_view(buffer.data(),
                            static_cast<std::size_t>(p - buffer.data()) + kTail.size());
}

std::size_t displayLength(std::string_view utf8) {
    std::size_t n = 0;
    for (char c : utf8) {
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }
    return n;
}

namespace {

// The first `chars` characters of UTF-8 text.
std::string_view firstChars(std::string_view utf8, std::size_t chars) {
    std::size_t i = 0;
    for (std::size_t seen = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80 && seen++ == chars) {
            break;
        }
    }
    return utf8.substr(0, i);
}

// Pads to `width` characters; longer text is cut unless `keepWhole`.
std::string pad(std::string_view text, std::size_t width, bool right, bool keepWhole = false) {
    if (!keepWhole) {
        text = firstChars(text, width);
    }
    std::size_t len = displayLength(text);
    std::string fill(width > len ? width - len : 0, ' ');
    return right ? fill + std::string(text) : std::string(text) + fill;
}

}  // namespace

std::string TableFormatter::begin(std::vector<ColumnFormat> columns) {
    columns_ = std::move(columns);
    for (auto& c : columns_) {
        c.width = std::max(c.width, displayLength(c.name));
    }
    rows_ = 0;
    return options_.headers < 0 ? std::string() : heading();
}

std::string TableFormatter::heading() const {
    std::vector<std::string> names, dashes;
    for (const auto& c : columns_) {
        if (options_.trimSpaces) {
            names.push_back(c.name);
            dashes.emplace_back(displayLength(c.name), '-');
        } else {
            names.push_back(pad(c.name, c.width, false));
            dashes.emplace_back(c.width, '-');
        }
    }
    return line(names) + line(dashes);
}

std::string TableFormatter::line(const std::vector<std::string>& cells) const {
    std::string s;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i) {
            s += options_.separator;
        }
        s += cells[i];
    }
    if (options_.trimSpaces) {
        while (!s.empty() && s.back() == ' ') {
            s.pop_back();
        }
    }
    return wrap(std::move(s)) + "\n";
}

std::string TableFormatter::wrap(std::string text) const {
    if (options_.width <= 0 || displayLength(text) <= static_cast<std::size_t>(options_.width)) {
        return text;
    }
    std::string out;
    std::string_view rest = text;
    while (!rest.empty()) {
        std::string_view piece = firstChars(rest, static_cast<std::size_t>(options_.width));
        if (!out.empty()) {
            out += '\n';
        }
        out += piece;
        rest.remove_prefix(piece.size());
    }
    return out;
}

std::string TableFormatter::row(const std::vector<std::optional<std::string>>& values) {
    std::string s;
    if (options_.headers > 0 && rows_ > 0 && rows_ % options_.headers == 0) {
        s = "\n" + heading();
    }
    ++rows_;
    std::vector<std::string> cells;
    cells.reserve(columns_.size());
    for (std::size_t i = 0; i < columns_.size() && i < values.size(); ++i) {
        std::string_view v = values[i] ? std::string_view(*values[i]) : std::string_view("NULL");
        if (options_.trimSpaces) {
            std::size_t b = v.find_first_not_of(' ');
            std::size_t e = v.find_last_not_of(' ');
            cells.emplace_back(b == std::string_view::npos ? std::string_view()
                                                           : v.substr(b, e - b + 1));
        } else {
            cells.push_back(
                pad(v, columns_[i].width, columns_[i].rightAlign, columns_[i].unlimited));
        }
    }
    return s + line(cells);
}

}  // namespace quill::sqlcmd
