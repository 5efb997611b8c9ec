#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <variant>
#include <vector>

namespace quill::exec {

// An error the server reported about the script (severity 11 and up), as a
// sqlcmd client prints it:
//   Msg 208, Level 16, State 1, Server HOST, Line 12
//   Invalid object name 'nosuch'.
// ", Procedure <name>" may stand before ", Line".
struct ServerError {
    int number = 0;
    int level = 0;
    int state = 0;
    QString procedure;  // empty outside a stored procedure
    // The line the client names: quill-sqlcmd gives the script file's line
    // (the procedure's own line inside a procedure); Microsoft's sqlcmd the
    // line within the batch.
    int line = 0;
    QString message;  // the first line of the text

    bool operator==(const ServerError&) const = default;
};

// A failure of the client itself ("Sqlcmd: Error: ..."): a refused login,
// a script file it cannot open or decode, a batch too large to send.
struct ClientError {
    QString message;  // without the "Sqlcmd: Error: " prefix

    bool operator==(const ClientError&) const = default;
};

using ScriptMessage = std::variant<ServerError, ClientError>;

// True for the messages of a refused login: server error 18456, or a
// client error that says so.
bool isLoginFailure(const ScriptMessage& message);

// Finds the errors in a client's output, read as one stream of UTF-8 bytes
// (line breaks "\n" or "\r\n"), however it was cut. Only the first 4,096
// bytes of a line are looked at. Messages of severity 10 and below,
// warnings and every other line are not errors.
class MessageParser {
public:
    // lines, when given, gets the line of each message found, in order: the
    // line of its header, counted from 0 at the start of the stream.
    void feed(QByteArrayView text, std::vector<ScriptMessage>& out,
              std::vector<qint64>* lines = nullptr);
    // The output has ended: a pending last line counts, and a header whose
    // text never came is an error with an empty message.
    void finish(std::vector<ScriptMessage>& out, std::vector<qint64>* lines = nullptr);

    // The last line that was not blank, without its line break.
    QString lastLine() const { return QString::fromUtf8(lastLine_); }

private:
    void takeLine(QByteArrayView line, std::vector<ScriptMessage>& out, std::vector<qint64>* lines);

    QByteArray partial_;  // an unfinished line; lines are cut at 4,096 bytes
    bool awaitingText_ = false;
    ServerError header_;  // valid while awaitingText_
    qint64 headerLine_ = 0;
    qint64 line_ = 0;  // the line being read
    QByteArray lastLine_;
};

}  // namespace quill::exec
