#include "exec/MessageParser.h"

#include <algorithm>
#include <limits>

namespace quill::exec {
namespace {

// Longer lines are not looked at beyond this; no message header is so long.
constexpr qsizetype kMaxLine = 4096;

// Reads a decimal number at the start of text and moves past it.
bool takeNumber(QStringView& text, int& value) {
    qsizetype digits = 0;
    long long n = 0;
    while (digits < text.size() && digits < 10 && text[digits].isDigit()) {
        n = n * 10 + text[digits].digitValue();
        ++digits;
    }
    if (digits == 0 || digits == 10 || n > std::numeric_limits<int>::max())
        return false;
    value = int(n);
    text = text.sliced(digits);
    return true;
}

bool takePrefix(QStringView& text, QStringView prefix) {
    if (!text.startsWith(prefix))
        return false;
    text = text.sliced(prefix.size());
    return true;
}

// "Msg N, Level L, State S, Server X[, Procedure P], Line K".
bool parseHeader(QStringView line, ServerError& header) {
    while (!line.isEmpty() && line.back().isSpace())
        line.chop(1);
    if (!(takePrefix(line, u"Msg ") && takeNumber(line, header.number) &&
          takePrefix(line, u", Level ") && takeNumber(line, header.level) &&
          takePrefix(line, u", State ") && takeNumber(line, header.state) &&
          takePrefix(line, u", Server ")))
        return false;
    const qsizetype lineAt = line.lastIndexOf(u", Line ");
    if (lineAt < 0)
        return false;
    QStringView number = line.sliced(lineAt + 7);
    if (!takeNumber(number, header.line) || !number.isEmpty())
        return false;
    const QStringView server = line.first(lineAt);
    const qsizetype procedureAt = server.indexOf(u", Procedure ");
    header.procedure = procedureAt < 0 ? QString() : server.sliced(procedureAt + 12).toString();
    return true;
}

}  // namespace

bool isLoginFailure(const ScriptMessage& message) {
    if (const auto* server = std::get_if<ServerError>(&message))
        return server->number == 18456;
    const QString& text = std::get<ClientError>(message).message;
    return text.contains(u"Login failed", Qt::CaseInsensitive) || text.contains(u"登录失败");
}

void MessageParser::feed(QStringView text, std::vector<ScriptMessage>& out) {
    QStringView last;
    qsizetype start = 0;
    for (qsizetype end; (end = text.indexOf(u'\n', start)) >= 0; start = end + 1) {
        QStringView line = text.sliced(start, end - start);
        if (!partial_.isEmpty()) {
            partial_ += line.first(std::min(line.size(), kMaxLine - partial_.size()));
            takeLine(partial_, out);
            if (!partial_.trimmed().isEmpty())
                lastLine_ = partial_;
            partial_.clear();
            last = {};
            continue;
        }
        line = line.first(std::min(line.size(), kMaxLine));
        takeLine(line, out);
        if (!line.trimmed().isEmpty())
            last = line;
    }
    if (!last.isEmpty())
        lastLine_ = last.toString();
    const QStringView rest = text.sliced(start);
    partial_ += rest.first(std::min(rest.size(), kMaxLine - partial_.size()));
}

void MessageParser::finish(std::vector<ScriptMessage>& out) {
    if (!partial_.isEmpty()) {
        takeLine(partial_, out);
        if (!partial_.trimmed().isEmpty())
            lastLine_ = partial_;
        partial_.clear();
    }
    if (awaitingText_) {
        awaitingText_ = false;
        if (header_.level >= 11)
            out.push_back(std::move(header_));
    }
}

void MessageParser::takeLine(QStringView line, std::vector<ScriptMessage>& out) {
    if (line.endsWith(u'\r'))
        line.chop(1);
    if (awaitingText_) {
        awaitingText_ = false;
        if (header_.level >= 11) {
            header_.message = line.toString();
            out.push_back(std::move(header_));
        }
        return;
    }
    if (line.startsWith(u"Msg ")) {
        ServerError header;
        if (parseHeader(line, header)) {
            header_ = std::move(header);
            awaitingText_ = true;
        }
        return;
    }
    if (takePrefix(line, u"Sqlcmd: ") && !line.startsWith(u"Warning:")) {
        takePrefix(line, u"Error: ");
        out.push_back(ClientError{line.toString()});
    }
}

}  // namespace quill::exec
