#include "app/log/LineIndex.h"

#include <algorithm>
#include <cstring>

namespace quill::logbox {

void LineIndex::add(QByteArrayView bytes) {
    const char* const begin = bytes.data();
    const char* const end = begin + bytes.size();
    for (const char* p = begin; p < end;) {
        const auto* brk = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        if (!brk)
            break;
        const quint64 start = size_ + quint64(brk - begin) + 1;
        const qint64 line = lines_++;
        const Checkpoint& last = checkpoints_.back();
        if (line - last.line >= kLinesPerCheckpoint || start - last.offset >= kBytesPerCheckpoint)
            checkpoints_.push_back({line, start});
        lastLineStart_ = start;
        p = brk + 1;
    }
    size_ += quint64(bytes.size());
}

std::pair<qint64, quint64> LineIndex::countBreaks(quint64 from, quint64 to, qint64 most,
                                                  const Reader& read) {
    char buffer[16 * 1024];
    qint64 count = 0;
    quint64 after = from;
    for (quint64 at = from; at < to && count < most;) {
        const qint64 got = read(at, buffer, qint64(std::min<quint64>(sizeof buffer, to - at)));
        if (got <= 0)
            break;
        for (const char* p = buffer; count < most;) {
            const auto* brk =
                static_cast<const char*>(std::memchr(p, '\n', size_t(buffer + got - p)));
            if (!brk)
                break;
            ++count;
            after = at + quint64(brk - buffer) + 1;
            p = brk + 1;
        }
        at += quint64(got);
    }
    return {count, after};
}

size_t LineIndex::checkpointAtOrBefore(qint64 line) const {
    const auto it = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), line,
                                     [](qint64 l, const Checkpoint& c) { return l < c.line; });
    return size_t(it - checkpoints_.begin()) - 1;
}

quint64 LineIndex::lineStart(qint64 line, const Reader& read) const {
    line = std::clamp<qint64>(line, 0, lines_ - 1);
    if (line == lines_ - 1)
        return lastLineStart_;
    const size_t i = checkpointAtOrBefore(line);
    const Checkpoint& cp = checkpoints_[i];
    if (cp.line == line)
        return cp.offset;
    const quint64 to = i + 1 < checkpoints_.size() ? checkpoints_[i + 1].offset : size_;
    return countBreaks(cp.offset, to, line - cp.line, read).second;
}

std::pair<qint64, quint64> LineIndex::lineAt(quint64 offset, const Reader& read) const {
    offset = std::min(offset, size_);
    if (offset >= lastLineStart_)
        return {lines_ - 1, lastLineStart_};
    const auto it = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), offset,
                                     [](quint64 o, const Checkpoint& c) { return o < c.offset; });
    const size_t i = size_t(it - checkpoints_.begin()) - 1;
    const Checkpoint& cp = checkpoints_[i];
    // The breaks between this checkpoint's line and the next one's: once all
    // are counted, offset lies in the last of those lines however far on it is.
    const qint64 nextLine = i + 1 < checkpoints_.size() ? checkpoints_[i + 1].line : lines_;
    const auto [count, start] = countBreaks(cp.offset, offset, nextLine - cp.line - 1, read);
    return {cp.line + count, start};
}

}  // namespace quill::logbox
