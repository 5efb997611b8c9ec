#include "exec/MessageParser.h"

#include <algorithm>
#include <limits>

namespace quill::exec {
namespace {

// Longer lines are not looked at beyond this; no message header is so long.
constexpr qsizetype kMaxLine = 4096;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool blank(QByteArrayView line) {
    return std::all_of(line.begin(), line.end(), isBlank);
}

// Reads a decimal number at the start of text and moves past it.
bool takeNumber(QByteArrayView& text, int& value) {
    qsizetype digits = 0;
    long long n = 0;
    while (digits < text.size() && digits < 10 && isDigit(text[digits])) {
        n = n * 10 + (text[digits] - '0');
        ++digits;
    }
    if (digits == 0 || digits == 10 || n > std::numeric_limits<int>::max())
        return false;
    value = int(n);
    text = text.sliced(digits);
    return true;
}

bool takePrefix(QByteArrayView& text, QByteArrayView prefix) {
    if (!text.startsWith(prefix))
        return false;
    text = text.sliced(prefix.size());
    return true;
}

// "Msg N, Level L, State S, Server X[, Procedure P], Line K".
bool parseHeader(QByteArrayView line, ServerError& header) {
    while (!line.isEmpty() && isBlank(line.back()))
        line.chop(1);
    if (!(takePrefix(line, "Msg ") && takeNumber(line, header.number) &&
          takePrefix(line, ", Level ") && takeNumber(line, header.level) &&
          takePrefix(line, ", State ") && takeNumber(line, header.state) &&
          takePrefix(line, ", Server ")))
        return false;
    const qsizetype lineAt = line.lastIndexOf(", Line ");
    if (lineAt < 0)
        return false;
    QByteArrayView number = line.sliced(lineAt + 7);
    if (!takeNumber(number, header.line) || !number.isEmpty())
        return false;
    const QByteArrayView server = line.first(lineAt);
    const qsizetype procedureAt = server.indexOf(", Procedure ");
    header.procedure =
        procedureAt < 0 ? QString() : QString::fromUtf8(server.sliced(procedureAt + 12));
    return true;
}

}  // namespace

bool isLoginFailure(const ScriptMessage& message) {
    if (const auto* server = std::get_if<ServerError>(&message))
        return server->number == 18456;
    const QString& text = std::get<ClientError>(message).message;
    return text.contains(u"Login failed", Qt::CaseInsensitive) || text.contains(u"登录失败");
}

void MessageParser::feed(QByteArrayView text, std::vector<ScriptMessage>& out,
                         std::vector<qint64>* lines) {
    QByteArrayView last;
    qsizetype start = 0;
    for (qsizetype end; (end = text.indexOf('\n', start)) >= 0; start = end + 1) {
        QByteArrayView line = text.sliced(start, end - start);
        if (!partial_.isEmpty()) {
            partial_ += line.first(std::min(line.size(), kMaxLine - partial_.size()));
            takeLine(partial_, out, lines);
            if (!blank(partial_))
                lastLine_ = partial_;
            partial_.clear();
            last = {};
        } else {
            line = line.first(std::min(line.size(), kMaxLine));
            takeLine(line, out, lines);
            if (!blank(line))
                last = line;
        }
        ++line_;
    }
    if (!last.isEmpty())
        lastLine_ = last.toByteArray();
    const QByteArrayView rest = text.sliced(start);
    partial_ += rest.first(std::min(rest.size(), kMaxLine - partial_.size()));
}

void MessageParser::finish(std::vector<ScriptMessage>& out, std::vector<qint64>* lines) {
    if (!partial_.isEmpty()) {
        takeLine(partial_, out, lines);
        if (!blank(partial_))
            lastLine_ = partial_;
        partial_.clear();
        ++line_;
    }
    if (awaitingText_) {
        awaitingText_ = false;
        if (header_.level >= 11) {
            out.push_back(std::move(header_));
            if (lines)
                lines->push_back(headerLine_);
        }
    }
}

void MessageParser::takeLine(QByteArrayView line, std::vector<ScriptMessage>& out,
                             std::vector<qint64>* lines) {
    if (line.endsWith('\r'))
        line.chop(1);
    if (awaitingText_) {
        awaitingText_ = false;
        if (header_.level >= 11) {
            header_.message = QString::fromUtf8(line);
            out.push_back(std::move(header_));
            if (lines)
                lines->push_back(headerLine_);
        }
        return;
    }
    if (line.startsWith("Msg ")) {
        ServerError header;
        if (parseHeader(line, header)) {
            header_ = std::move(header);
            headerLine_ = line_;
            awaitingText_ = true;
        }
        return;
    }
    if (takePrefix(line, "Sqlcmd: ") && !line.startsWith("Warning:")) {
        takePrefix(line, "Error: ");
        out.push_back(ClientError{QString::fromUtf8(line)});
        if (lines)
            lines->push_back(line_);
    }
}

}  // namespace quill::exec
