#include "app/log/LogDocument.h"

#include <algorithm>
#include <cstring>

namespace quill::logbox {

namespace {

// Where an unfinished UTF-8 character at the end of bytes starts; size()
// when they end on a character boundary.
qsizetype unfinishedCharacterAt(QByteArrayView bytes) {
    for (qsizetype at = bytes.size() - 1; at >= 0 && at >= bytes.size() - 3; --at) {
        const uchar c = uchar(bytes[at]);
        if ((c & 0xC0) == 0x80)
            continue;
        const qsizetype length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return bytes.size() - at < length ? at : bytes.size();
    }
    return bytes.size();
}

QString shown(QByteArray bytes) {
    bytes.removeIf([](char c) { return c == '\r'; });
    return QString::fromUtf8(bytes);
}

// Reads [offset, offset + length) across the pieces that hold it.
template <class Piece, class ReadFile>
qint64 readPieces(const std::vector<Piece>& pieces, quint64 offset, char* out, qint64 length,
                  ReadFile readFile) {
    qint64 done = 0;
    while (done < length) {
        const auto it = std::upper_bound(pieces.begin(), pieces.end(), offset,
                                         [](quint64 o, const Piece& p) { return o < p.start; });
        if (it == pieces.begin())
            break;
        const Piece& piece = *(it - 1);
        if (offset >= piece.start + piece.length)
            break;
        const qint64 want =
            qint64(std::min<quint64>(quint64(length - done), piece.start + piece.length - offset));
        const qint64 got = std::max<qint64>(
            readFile(piece, piece.fileOffset + (offset - piece.start), out + done, want), 0);
        done += got;
        offset += quint64(got);
        if (got < want)
            break;
    }
    return done;
}

}  // namespace

qint64 LogSnapshot::read(quint64 offset, char* out, qint64 length) const {
    return readPieces(
        pieces_, offset, out, length,
        [](const Piece& p, quint64 at, char* to, qint64 n) { return p.file.read(at, to, n); });
}

LogDocument::LogDocument(const QString& spoolFolder, QObject* parent)
    : QObject(parent), spoolFolder_(spoolFolder), spool_(AppendFile::scratch(spoolFolder)) {
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(500);
    connect(&flushTimer_, &QTimer::timeout, this, [this] {
        if (runLog_)
            runLog_->flush();
        noteProblem();
    });
    noteProblem();
}

LogDocument::~LogDocument() = default;

void LogDocument::append(QByteArrayView utf8) {
    appendTo(spool_, utf8);
}

void LogDocument::appendOutput(QByteArrayView bytes) {
    appendTo(runLog_ ? runLog_ : spool_, bytes);
    if (runLog_ && !flushTimer_.isActive())
        flushTimer_.start();
}

void LogDocument::appendTo(const std::shared_ptr<AppendFile>& file, QByteArrayView bytes) {
    if (bytes.isEmpty())
        return;
    if (!pieces_.empty() && pieces_.back().file == file &&
        pieces_.back().fileOffset + pieces_.back().length == file->size())
        pieces_.back().length += quint64(bytes.size());
    else
        pieces_.push_back({index_.size(), quint64(bytes.size()), file->size(), file});
    file->append(bytes);
    index_.add(bytes);
    if (file->problem() != problem_)
        noteProblem();
    emit appended();
}

bool LogDocument::bindRunLog(const QString& path, QString* error) {
    unbindRunLog();
    runLog_ = AppendFile::open(path, error);
    if (!runLog_)
        return false;
    runLogPath_ = path;
    return true;
}

void LogDocument::unbindRunLog() {
    if (!runLog_)
        return;
    flushTimer_.stop();
    runLog_->flush();
    noteProblem();
    runLog_.reset();
}

void LogDocument::clear() {
    pieces_.clear();
    index_.clear();
    marks_.clear();
    for (Block& block : blocks_)
        block = {};
    ++generation_;
    // A new spool: workers may still be reading the old one.
    spool_ = AppendFile::scratch(spoolFolder_);
    noteProblem();
    emit cleared();
}

QString LogDocument::problem() const {
    return problem_;
}

void LogDocument::noteProblem() {
    QString problem = spool_->problem();
    if (problem.isEmpty() && runLog_)
        problem = runLog_->problem();
    if (problem == problem_)
        return;
    problem_ = problem;
    emit problemChanged();
}

qint64 LogDocument::read(quint64 offset, char* out, qint64 length) const {
    return readPieces(
        pieces_, offset, out, length,
        [](const Piece& p, quint64 at, char* to, qint64 n) { return p.file->read(at, to, n); });
}

qint64 LogDocument::readThroughCache(quint64 offset, char* out, qint64 length) const {
    qint64 done = 0;
    while (done < length && offset < size()) {
        const quint64 start = offset - offset % kBlockSize;
        Block* block = nullptr;
        for (Block& b : blocks_)
            if (b.start == start && !b.bytes.isEmpty() &&
                (b.bytes.size() == kBlockSize || start + quint64(b.bytes.size()) >= size()))
                block = &b;
        if (!block) {
            block =
                &*std::min_element(blocks_.begin(), blocks_.end(),
                                   [](const Block& a, const Block& b) { return a.used < b.used; });
            block->start = start;
            block->bytes.resize(kBlockSize);
            block->bytes.resize(read(start, block->bytes.data(), kBlockSize));
            if (block->bytes.isEmpty())
                break;
        }
        block->used = ++blockClock_;
        const qint64 in = qint64(offset - start);
        const qint64 n = std::min<qint64>(length - done, block->bytes.size() - in);
        if (n <= 0)
            break;
        std::memcpy(out + done, block->bytes.constData() + in, size_t(n));
        done += n;
        offset += quint64(n);
    }
    return done;
}

LineIndex::Reader LogDocument::reader() const {
    return [this](quint64 offset, char* out, qint64 length) {
        return readThroughCache(offset, out, length);
    };
}

quint64 LogDocument::lineStart(qint64 n) const {
    return index_.lineStart(n, reader());
}

quint64 LogDocument::lineEnd(qint64 n) const {
    return n + 1 >= lineCount() ? size() : lineStart(n + 1) - 1;
}

std::pair<qint64, quint64> LogDocument::placeOf(quint64 offset) const {
    const auto [line, start] = index_.lineAt(offset, reader());
    return {line, std::min(offset, size()) - start};
}

QByteArray LogDocument::bytes(quint64 from, quint64 to) const {
    to = std::min(to, size());
    if (from >= to)
        return {};
    QByteArray out(qsizetype(to - from), Qt::Uninitialized);
    out.resize(readThroughCache(from, out.data(), out.size()));
    return out;
}

QString LogDocument::line(qint64 n, qsizetype maxBytes, bool* cut) const {
    if (cut)
        *cut = false;
    if (n < 0 || n >= lineCount())
        return {};
    const quint64 start = lineStart(n);
    // Most lines are short: read a little, and more only while no break shows.
    QByteArray bytes;
    qsizetype step = 256;
    bool ended = false;
    while (!ended && bytes.size() < maxBytes) {
        const qsizetype want = std::min(step, maxBytes - bytes.size());
        const qsizetype had = bytes.size();
        bytes.resize(had + want);
        const qint64 got = readThroughCache(start + quint64(had), bytes.data() + had, want);
        bytes.resize(had + got);
        if (const qsizetype brk = bytes.indexOf('\n', had); brk >= 0) {
            bytes.truncate(brk);
            ended = true;
        } else if (got < want) {
            ended = true;  // the end of the text
            bytes.truncate(unfinishedCharacterAt(bytes));
        }
        step *= 4;
    }
    if (!ended) {
        bytes.truncate(unfinishedCharacterAt(bytes));
        if (cut)
            *cut = true;
    }
    return shown(std::move(bytes));
}

QString LogDocument::text(qsizetype maxBytes) const {
    quint64 from = 0;
    if (size() > quint64(maxBytes)) {
        const auto [line, in] = placeOf(size() - quint64(maxBytes));
        from = in == 0 ? size() - quint64(maxBytes) : lineEnd(line) + 1;
    }
    QByteArray all = bytes(from, size());
    all.truncate(unfinishedCharacterAt(all));
    return shown(std::move(all));
}

LogSnapshot LogDocument::snapshot() const {
    LogSnapshot snap;
    snap.size_ = size();
    snap.generation_ = generation_;
    snap.pieces_.reserve(pieces_.size());
    for (const Piece& p : pieces_)
        snap.pieces_.push_back({p.start, p.length, p.fileOffset, p.file->freeze()});
    return snap;
}

void LogDocument::markLine(qint64 line) {
    const auto it = std::lower_bound(marks_.begin(), marks_.end(), line);
    if (it != marks_.end() && *it == line)
        return;
    marks_.insert(it, line);
    emit marksChanged();
}

bool LogDocument::isMarked(qint64 line) const {
    return std::binary_search(marks_.begin(), marks_.end(), line);
}

std::optional<qint64> LogDocument::nextMark(qint64 after) const {
    if (marks_.empty())
        return std::nullopt;
    const auto it = std::upper_bound(marks_.begin(), marks_.end(), after);
    return it == marks_.end() ? marks_.front() : *it;
}

std::optional<qint64> LogDocument::previousMark(qint64 before) const {
    if (marks_.empty())
        return std::nullopt;
    const auto it = std::lower_bound(marks_.begin(), marks_.end(), before);
    return it == marks_.begin() ? marks_.back() : *(it - 1);
}

}  // namespace quill::logbox
