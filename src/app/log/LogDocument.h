#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "app/log/AppendFile.h"
#include "app/log/LineIndex.h"

namespace quill::logbox {

// The log at one moment, for reading on another thread. It holds the files
// open, so it stays readable whatever happens to the log afterwards.
class LogSnapshot {
public:
    quint64 size() const { return size_; }
    quint64 generation() const { return generation_; }
    qint64 read(quint64 offset, char* out, qint64 length) const;

private:
    friend class LogDocument;
    struct Piece {
        quint64 start;
        quint64 length;
        quint64 fileOffset;
        AppendFile::Frozen file;
    };
    std::vector<Piece> pieces_;
    quint64 size_ = 0;
    quint64 generation_ = 0;
};

// Everything the log box shows, kept on disk: an append-only text with a
// sparse line index, in bounded memory however long it grows.
//
// The text is a sequence of pieces of files. The window's own texts (and
// output while no run log is bound) go to a scratch spool; a run's output
// goes to the run's own log file when one is bound, which then holds exactly
// the bytes the client printed. Nothing is held twice in memory.
//
// Bytes are UTF-8. Lines end at '\n'; as shown, a line has no CR (a CR LF
// break is one break). Marks (error lines) are set from outside and go with
// the text. GUI thread only; snapshot() hands the text to workers.
class LogDocument : public QObject {
    Q_OBJECT
public:
    // Lines are read for the screen up to this many bytes: some 500 rows in
    // the box, and laid out in a few milliseconds.
    static constexpr qsizetype kShownLineBytes = 16 * 1024;

    explicit LogDocument(const QString& spoolFolder, QObject* parent = nullptr);
    ~LogDocument() override;

    // The window's own texts.
    void append(QByteArrayView utf8);
    void appendText(const QString& text) { append(text.toUtf8()); }
    // A run's output: into the bound run log when there is one.
    void appendOutput(QByteArrayView bytes);

    // From now on appendOutput() writes to the file at path (created when
    // missing, appended to otherwise). False with *error when it cannot be opened.
    bool bindRunLog(const QString& path, QString* error);
    // Writes the run log out and stops writing to it; the log still shows it.
    void unbindRunLog();
    QString runLogPath() const { return runLogPath_; }

    // Empties the log (a bound run log file keeps what it has).
    void clear();

    quint64 size() const { return index_.size(); }
    qint64 lineCount() const { return index_.lineCount(); }
    // Changes with every clear().
    quint64 generation() const { return generation_; }

    // Line n as shown, at most maxBytes of it; *cut is set when more follows.
    QString line(qint64 n, qsizetype maxBytes = kShownLineBytes, bool* cut = nullptr) const;
    quint64 lineStart(qint64 n) const;
    // Where line n ends: its '\n', or size() for the last line.
    quint64 lineEnd(qint64 n) const;
    // The line holding offset, and offset's byte in that line.
    std::pair<qint64, quint64> placeOf(quint64 offset) const;
    // The bytes in [from, to).
    QByteArray bytes(quint64 from, quint64 to) const;
    // The text as shown (line breaks as "\n"): all of it when it is at most
    // maxBytes, else its last lines within maxBytes.
    QString text(qsizetype maxBytes) const;

    LogSnapshot snapshot() const;

    // Error lines, from outside (a run's errors); cleared with the text.
    void markLine(qint64 line);
    bool isMarked(qint64 line) const;
    // The first mark after line, or before it, wrapping around the ends.
    std::optional<qint64> nextMark(qint64 after) const;
    std::optional<qint64> previousMark(qint64 before) const;
    const std::vector<qint64>& marks() const { return marks_; }

    // Why some of the log is held in memory, not on disk; empty when all is well.
    QString problem() const;
    // Memory held by the line index.
    size_t indexBytes() const { return index_.memoryBytes(); }

signals:
    void appended();
    void cleared();
    void marksChanged();
    void problemChanged();

private:
    struct Piece {
        quint64 start;
        quint64 length;
        quint64 fileOffset;
        std::shared_ptr<AppendFile> file;
    };
    void appendTo(const std::shared_ptr<AppendFile>& file, QByteArrayView bytes);
    qint64 read(quint64 offset, char* out, qint64 length) const;
    qint64 readThroughCache(quint64 offset, char* out, qint64 length) const;
    LineIndex::Reader reader() const;
    void noteProblem();

    QString spoolFolder_;
    std::shared_ptr<AppendFile> spool_;
    std::shared_ptr<AppendFile> runLog_;
    QString runLogPath_;
    std::vector<Piece> pieces_;
    LineIndex index_;
    std::vector<qint64> marks_;
    quint64 generation_ = 0;
    QString problem_;
    // Writes a run log out soon after output arrives, not only when its tail fills.
    QTimer flushTimer_;

    // Recently read blocks: drawing and the index read the same places again.
    struct Block {
        quint64 start = 0;
        QByteArray bytes;
        quint64 used = 0;
    };
    static constexpr qint64 kBlockSize = 64 * 1024;
    mutable std::array<Block, 4> blocks_;
    mutable quint64 blockClock_ = 0;
};

}  // namespace quill::logbox
