#include "app/log/LogSearch.h"

#include <QSaveFile>
#include <algorithm>
#include <cstring>

namespace quill::logbox {

namespace {

constexpr qint64 kChunk = 4 * 1024 * 1024;

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Matches starting in [from, to), in order; visit returns false to stop.
// Reads the log in chunks that overlap by the needle's length less one.
template <class Visit>
bool eachMatch(const LogSnapshot& log, const QByteArray& needle, quint64 from, quint64 to,
               const std::atomic<bool>& cancelled, Visit&& visit) {
    const qint64 n = needle.size();
    const bool fold =
        std::any_of(needle.begin(), needle.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    QByteArray chunk(kChunk + n, Qt::Uninitialized);
    for (quint64 at = from; at < to; at += kChunk) {
        if (cancelled.load(std::memory_order_relaxed))
            return false;
        const qint64 want = qint64(std::min<quint64>(kChunk + quint64(n) - 1, log.size() - at));
        const qint64 got = log.read(at, chunk.data(), want);
        if (got < n)
            return true;
        if (fold)
            std::transform(chunk.data(), chunk.data() + got, chunk.data(), lowerAscii);
        const char* const begin = chunk.constData();
        const quint64 lastStart = std::min<quint64>(to, at + quint64(got - n) + 1);
        for (const char* p = begin;;) {
            p = static_cast<const char*>(
                memmem(p, size_t(begin + got - p), needle.constData(), size_t(n)));
            if (!p || at + quint64(p - begin) >= lastStart)
                break;
            if (!visit(at + quint64(p - begin)))
                return true;
            ++p;
        }
    }
    return true;
}

std::optional<quint64> firstIn(const LogSnapshot& log, const QByteArray& needle, quint64 from,
                               quint64 to, const std::atomic<bool>& cancelled) {
    std::optional<quint64> found;
    eachMatch(log, needle, from, to, cancelled, [&](quint64 at) {
        found = at;
        return false;
    });
    return found;
}

// The last match in [from, to): chunks from the end backwards, each scanned
// forwards for its last match.
std::optional<quint64> lastIn(const LogSnapshot& log, const QByteArray& needle, quint64 from,
                              quint64 to, const std::atomic<bool>& cancelled) {
    for (quint64 end = to; end > from;) {
        const quint64 start = end - std::min<quint64>(end - from, kChunk);
        std::optional<quint64> found;
        if (!eachMatch(log, needle, start, end, cancelled, [&](quint64 at) {
                found = at;
                return true;
            }))
            return std::nullopt;
        if (found)
            return found;
        end = start;
    }
    return std::nullopt;
}

}  // namespace

std::optional<quint64> findInLog(const LogSnapshot& log, const QByteArray& needle, quint64 from,
                                 bool backward, const std::atomic<bool>& cancelled) {
    if (needle.isEmpty() || quint64(needle.size()) > log.size())
        return std::nullopt;
    QByteArray folded = needle;
    std::transform(folded.begin(), folded.end(), folded.begin(), lowerAscii);
    from = std::min(from, log.size());
    std::optional<quint64> found;
    if (backward) {
        found = lastIn(log, folded, 0, from, cancelled);
        if (!found)
            found = lastIn(log, folded, from, log.size(), cancelled);
    } else {
        found = firstIn(log, folded, from, log.size(), cancelled);
        if (!found)
            found = firstIn(log, folded, 0, from, cancelled);
    }
    if (cancelled.load())
        return std::nullopt;
    return found;
}

QString exportLog(const LogSnapshot& log, const QString& path, const std::atomic<bool>& cancelled) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QByteArray chunk(kChunk, Qt::Uninitialized);
    for (quint64 at = 0; at < log.size();) {
        if (cancelled.load(std::memory_order_relaxed)) {
            file.cancelWriting();
            return QStringLiteral("cancelled");
        }
        const qint64 got = log.read(at, chunk.data(), kChunk);
        if (got <= 0)
            return QStringLiteral("the log could not be read back");
        if (file.write(chunk.constData(), got) != got)
            return file.errorString();
        at += quint64(got);
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

}  // namespace quill::logbox
