#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quill::sqlcmd {

// Scripting variables. Names are case-insensitive; values are UTF-8.
class Variables {
public:
    // Letters, digits, '_' and '-', not starting with a digit or '-'.
    static bool validName(std::string_view name);

    void set(std::string_view name, std::string value);
    void remove(std::string_view name);
    const std::string* find(std::string_view name) const;

    // The client's own variables (SQLCMD*), listed before the script's; the
    // read-only ones (SQLCMDUSER, SQLCMDSERVER, ...) :setvar may not change.
    void setBuiltin(std::string_view name, std::string value, bool readOnly);
    bool isReadOnly(std::string_view name) const;

    // Every variable for :listvar: the built-in ones, then the others, each
    // group sorted by name.
    std::vector<std::pair<std::string, std::string>> list() const;

private:
    static std::string key(std::string_view name);

    struct Entry {
        std::string name;  // as first written
        std::string value;
        bool readOnly = false;
        bool builtin = false;
    };
    std::map<std::string, Entry> vars_;
};

}  // namespace quill::sqlcmd
