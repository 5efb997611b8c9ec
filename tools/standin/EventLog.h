#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace standin {

// One line per event, "<spid> <event>[ <detail>]", UTF-8, flushed at once so
// that tests can watch the file while the server runs. Line breaks, tabs and
// backslashes in the detail are written as \n, \r, \t and \\.
class EventLog {
public:
    explicit EventLog(const std::string& path);
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    bool ok() const { return file_ != nullptr; }
    void write(int spid, std::string_view event, std::u16string_view detail = {});
    void write(int spid, std::string_view event, std::string_view utf8Detail);

private:
    std::mutex mutex_;
    std::FILE* file_;
};

}  // namespace standin
