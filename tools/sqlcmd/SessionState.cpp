#include "SessionState.h"

#include <algorithm>
#include <string_view>

namespace quill::sqlcmd {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

// Words of a statement: blanks separate them, brackets and double quotes
// hold theirs. Nothing when the line is more than a plain statement: any
// character that could start an expression, a string, a variable or a
// second statement.
std::vector<std::string_view> plainWords(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i])) {
            ++i;
        }
        if (i == line.size()) {
            break;
        }
        const std::size_t start = i;
        while (i < line.size() && !isBlank(line[i])) {
            const char c = line[i];
            if (c == '[' || c == '"') {
                const char close = c == '[' ? ']' : '"';
                const std::size_t end = line.find(close, i + 1);
                if (end == std::string_view::npos) {
                    return {};
                }
                i = end + 1;
                continue;
            }
            const auto u = static_cast<unsigned char>(c);
            const bool plain = u >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                               (c >= '0' && c <= '9') || c == '_' || c == '.' || c == ',' ||
                               c == '#' || c == '$';
            if (!plain) {
                return {};
            }
            ++i;
        }
        words.push_back(line.substr(start, i - start));
    }
    return words;
}

// The line without its terminator, a trailing "--" comment and a final ';'.
std::string_view statementOf(std::string_view text, std::size_t at) {
    std::size_t end = text.find('\n', at);
    std::string_view line = text.substr(at, end == std::string_view::npos ? end : end - at);
    bool bracket = false, quote = false;
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        const char c = line[i];
        if (c == '[' && !quote) {
            bracket = true;
        } else if (c == ']' && !quote) {
            bracket = false;
        } else if (c == '"' && !bracket) {
            quote = !quote;
        } else if (c == '-' && line[i + 1] == '-' && !bracket && !quote) {
            line = line.substr(0, i);
            break;
        }
    }
    while (!line.empty() && isBlank(line.back())) {
        line.remove_suffix(1);
    }
    if (!line.empty() && line.back() == ';') {
        line.remove_suffix(1);
    }
    while (!line.empty() && isBlank(line.back())) {
        line.remove_suffix(1);
    }
    return line;
}

// Whether "CREATE [OR ALTER] PROC..." (or ALTER ...) opens the line.
bool startsModule(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (words.size() < 4 && i < line.size()) {
        while (i < line.size() && (isBlank(line[i]) || line[i] == '(')) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && !isBlank(line[i]) && line[i] != '(') {
            ++i;
        }
        if (i > start) {
            words.push_back(line.substr(start, i - start));
        }
    }
    std::size_t k = 1;
    if (words.size() > 3 && upper(words[1]) == "OR" && upper(words[2]) == "ALTER") {
        k = 3;
    }
    if (k >= words.size()) {
        return false;
    }
    const std::string what = upper(words[k]);
    return what == "PROC" || what == "PROCEDURE" || what == "FUNCTION" || what == "TRIGGER" ||
           what == "VIEW";
}

}  // namespace

void SessionState::take(const Batch& batch) {
    if (batch.overflow) {
        return;
    }
    for (std::size_t at : batch.sessionLines) {
        const std::string_view line = statementOf(batch.text, at);
        const std::string first = upper(line.substr(0, line.find_first_of(" \t")));
        if (first == "CREATE" || first == "ALTER") {
            if (startsModule(line)) {
                return;  // what its body sets is not the session's; the body is the rest of the
                         // batch
            }
            continue;
        }
        const auto words = plainWords(line);
        if (first == "USE" && words.size() == 2) {
            use_ = std::string(line);
        } else if (first == "SET" && words.size() >= 3) {
            std::string key =
                upper(line.substr(0, static_cast<std::size_t>(words.back().data() - line.data())));
            std::erase_if(sets_, [&](const auto& entry) { return entry.first == key; });
            sets_.emplace_back(std::move(key), std::string(line));
        }
    }
}

std::string SessionState::statements() const {
    std::string text = use_.empty() ? std::string() : use_ + "\n";
    for (const auto& [key, statement] : sets_) {
        text += statement + "\n";
    }
    return text;
}

}  // namespace quill::sqlcmd
