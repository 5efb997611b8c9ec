#pragma once

#include <QByteArrayView>
#include <functional>
#include <utility>
#include <vector>

namespace quill::logbox {

// Where the lines of an append-only text start, in a few bytes per thousand
// lines of memory. Lines end at '\n'; a text of n breaks has n + 1 lines
// (the last one may be empty). Only some line starts are kept: one every
// kLinesPerCheckpoint lines, and at the first line start kBytesPerCheckpoint
// bytes or more after the previous one. Finding any other line reads the
// text from the checkpoint before it: never more than that many lines, and
// never more than about that many bytes (a longer line is passed by the
// checkpoint that follows it).
class LineIndex {
public:
    static constexpr qint64 kLinesPerCheckpoint = 64;
    static constexpr quint64 kBytesPerCheckpoint = 64 * 1024;

    // Reads up to length bytes of the text at offset; returns how many.
    using Reader = std::function<qint64(quint64 offset, char* out, qint64 length)>;

    // Takes note of bytes appended to the text.
    void add(QByteArrayView bytes);
    void clear() { *this = LineIndex(); }

    quint64 size() const { return size_; }
    qint64 lineCount() const { return lines_; }
    // Offset of the first byte of line (0 <= line < lineCount()).
    quint64 lineStart(qint64 line, const Reader& read) const;
    // The line holding offset (at most size()), and where that line starts.
    std::pair<qint64, quint64> lineAt(quint64 offset, const Reader& read) const;

    // Memory the index holds.
    size_t memoryBytes() const { return checkpoints_.capacity() * sizeof(Checkpoint); }

private:
    struct Checkpoint {
        qint64 line;
        quint64 offset;
    };
    // Counts line breaks in [from, to) up to most of them; returns the count
    // and the offset after the last break counted (from when none).
    static std::pair<qint64, quint64> countBreaks(quint64 from, quint64 to, qint64 most,
                                                  const Reader& read);
    size_t checkpointAtOrBefore(qint64 line) const;

    std::vector<Checkpoint> checkpoints_{{0, 0}};
    qint64 lines_ = 1;
    quint64 size_ = 0;
    quint64 lastLineStart_ = 0;
};

}  // namespace quill::logbox
