#include "EventLog.h"

#include "Bytes.h"

namespace standin {

EventLog::EventLog(const std::string& path) : file_(std::fopen(path.c_str(), "w")) {}

EventLog::~EventLog() {
    if (file_)
        std::fclose(file_);
}

void EventLog::write(int spid, std::string_view event, std::u16string_view detail) {
    write(spid, event, std::string_view(toUtf8(detail)));
}

void EventLog::write(int spid, std::string_view event, std::string_view detail) {
    if (!file_)
        return;
    std::string line = std::to_string(spid);
    line += ' ';
    line += event;
    if (!detail.empty())
        line += ' ';
    for (char c : detail) {
        switch (c) {
            case '\n':
                line += "\\n";
                break;
            case '\r':
                line += "\\r";
                break;
            case '\t':
                line += "\\t";
                break;
            case '\\':
                line += "\\\\";
                break;
            default:
                line += c;
        }
    }
    line += '\n';
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

}  // namespace standin
