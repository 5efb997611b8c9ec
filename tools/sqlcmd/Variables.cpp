#include "Variables.h"

namespace quill::sqlcmd {

namespace {
bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
}  // namespace

bool Variables::validName(std::string_view name) {
    if (name.empty() || !(isLetter(name[0]) || name[0] == '_')) {
        return false;
    }
    for (char c : name) {
        if (!(isLetter(c) || isDigit(c) || c == '_' || c == '-')) {
            return false;
        }
    }
    return true;
}

std::string Variables::key(std::string_view name) {
    std::string k(name);
    for (char& c : k) {
        c = upper(c);
    }
    return k;
}

void Variables::set(std::string_view name, std::string value) {
    auto& e = vars_[key(name)];
    if (e.name.empty()) {
        e.name = std::string(name);
    }
    e.value = std::move(value);
}

void Variables::setBuiltin(std::string_view name, std::string value, bool readOnly) {
    set(name, std::move(value));
    Entry& e = vars_[key(name)];
    e.readOnly = readOnly;
    e.builtin = true;
}

void Variables::remove(std::string_view name) {
    vars_.erase(key(name));
}

const std::string* Variables::find(std::string_view name) const {
    auto it = vars_.find(key(name));
    return it == vars_.end() ? nullptr : &it->second.value;
}

bool Variables::isReadOnly(std::string_view name) const {
    auto it = vars_.find(key(name));
    return it != vars_.end() && it->second.readOnly;
}

std::vector<std::pair<std::string, std::string>> Variables::list() const {
    std::vector<std::pair<std::string, std::string>> out;
    out.reserve(vars_.size());
    for (bool builtin : {true, false}) {
        for (const auto& [k, e] : vars_) {
            if (e.builtin == builtin) {
                out.emplace_back(e.name, e.value);
            }
        }
    }
    return out;
}

}  // namespace quill::sqlcmd
