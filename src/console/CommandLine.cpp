#include "console/CommandLine.h"

namespace quill::console {

std::vector<std::string> splitCommandLine(std::string_view line) {
    std::vector<std::string> args;
    std::string current;
    bool inArgument = false;  // also true for "" alone, which is an empty argument
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') {
            inArgument = true;
            if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                current += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inArgument)
                args.push_back(std::move(current));
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument)
        args.push_back(std::move(current));
    return args;
}

std::string quoteArgument(std::string_view argument) {
    std::string out = "\"";
    for (char c : argument) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string assignmentWord(std::string_view name, std::string_view value) {
    std::string word(name);
    word += '=';
    word += value;
    return quoteArgument(word);
}

bool isAssignmentWord(std::string_view word) {
    const std::size_t eq = word.find('=');
    if (eq == 0 || eq == std::string_view::npos)
        return false;
    const auto letter = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    };
    if (!letter(word[0]))
        return false;
    for (std::size_t i = 1; i < eq; ++i)
        if (!letter(word[i]) && !(word[i] >= '0' && word[i] <= '9'))
            return false;
    return true;
}

}  // namespace quill::console
