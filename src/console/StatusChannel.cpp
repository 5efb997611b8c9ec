#include "console/StatusChannel.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace quill::console {

std::string formatStatusRecord(std::string_view tag, const std::vector<long long>& numbers) {
    std::string out(tag);
    for (long long n : numbers) {
        out += ' ';
        out += std::to_string(n);
    }
    out += '\n';
    return out;
}

std::optional<StatusRecord> parseStatusRecord(std::string_view line) {
    StatusRecord record;
    std::size_t at = line.find(' ');
    record.tag = std::string(line.substr(0, at));
    if (record.tag.empty())
        return std::nullopt;
    for (char c : record.tag)
        if (c < 'a' || c > 'z')
            return std::nullopt;
    while (at != std::string_view::npos) {
        const std::size_t start = at + 1;
        at = line.find(' ', start);
        const std::string_view field = line.substr(start, at == line.npos ? line.npos : at - start);
        long long value = 0;
        auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
        if (field.empty() || ec != std::errc() || end != field.data() + field.size())
            return std::nullopt;
        record.numbers.push_back(value);
    }
    return record;
}

StatusWriter StatusWriter::fromEnvironment() {
    const char* value = std::getenv(kStatusFdVariable);
    if (!value || !*value)
        return StatusWriter();
    int fd = -1;
    auto [end, ec] = std::from_chars(value, value + std::string_view(value).size(), fd);
    if (ec != std::errc() || *end != '\0' || fd < 0 || ::fcntl(fd, F_GETFD) < 0)
        return StatusWriter();
    return StatusWriter(fd);
}

void StatusWriter::write(std::string_view tag, const std::vector<long long>& numbers) const {
    if (fd_ < 0)
        return;
    const std::string record = formatStatusRecord(tag, numbers);
    // One write: a record never mixes with another writer's. A closed or full
    // channel must not stop the run, so failures are dropped.
    while (::write(fd_, record.data(), record.size()) < 0 && errno == EINTR) {
    }
}

std::string formatJournal(const JournalEntry& entry) {
    char text[64];
    const int n =
        std::snprintf(text, sizeof text, "next %20lld %20lld\n", entry.nextBatch, entry.nextLine);
    return std::string(text, std::size_t(n));
}

std::optional<JournalEntry> parseJournal(std::string_view text) {
    while (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    std::string squeezed;
    for (char c : text)
        if (c != ' ' || (!squeezed.empty() && squeezed.back() != ' '))
            squeezed += c;
    const std::optional<StatusRecord> record = parseStatusRecord(squeezed);
    if (!record || record->tag != "next" || record->numbers.size() != 2 || record->numbers[0] < 1 ||
        record->numbers[1] < 1)
        return std::nullopt;
    return JournalEntry{record->numbers[0], record->numbers[1]};
}

}  // namespace quill::console
