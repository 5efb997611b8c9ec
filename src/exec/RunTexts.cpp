#include "exec/RunTexts.h"

#include <csignal>

#include <QLocale>
#include <cmath>

#include "exec/RunProgress.h"
#include "exec/ScriptRun.h"

namespace quill::exec {
namespace {

QString signalText(int signal) {
    const char* name = signal == SIGKILL   ? "SIGKILL"
                       : signal == SIGSEGV ? "SIGSEGV"
                       : signal == SIGABRT ? "SIGABRT"
                       : signal == SIGTERM ? "SIGTERM"
                       : signal == SIGINT  ? "SIGINT"
                       : signal == SIGBUS  ? "SIGBUS"
                                           : nullptr;
    return name ? QStringLiteral("信号 %1（%2）").arg(signal).arg(name)
                : QStringLiteral("信号 %1").arg(signal);
}

// "（第 12 行）", "（存储过程 p 第 3 行）", or nothing.
QString whereText(const ScriptMessage& message) {
    const auto* server = std::get_if<ServerError>(&message);
    if (!server || server->line <= 0)
        return {};
    if (!server->procedure.isEmpty())
        return QStringLiteral("（存储过程 %1 第 %2 行）").arg(server->procedure).arg(server->line);
    return QStringLiteral("（第 %1 行）").arg(server->line);
}

QString messageText(const ScriptMessage& message) {
    if (const auto* server = std::get_if<ServerError>(&message))
        return server->message.isEmpty() ? QStringLiteral("错误 %1").arg(server->number)
                                         : server->message;
    return std::get<ClientError>(message).message;
}

QString stoppedText(const RunOutcome& o) {
    if (o.stoppedBatch <= 0)
        return QStringLiteral("已停止执行。");
    QString where = QStringLiteral("第 %1 批").arg(o.stoppedBatch);
    if (o.stoppedLine > 0)
        where += QStringLiteral("（脚本第 %1 行起）").arg(o.stoppedLine);
    const QString before = o.stoppedBatch > 1
                               ? QStringLiteral("，前 %1 批已执行。").arg(o.stoppedBatch - 1)
                               : QStringLiteral("，之前没有批次执行完。");
    return QStringLiteral("已停止执行：") + where +
           (o.batchCancelled ? QStringLiteral("已取消") : QStringLiteral("被中断")) + before;
}

}  // namespace

QString sizeText(qint64 bytes) {
    if (bytes < 1024)
        return QStringLiteral("%1 字节").arg(bytes);
    const char* units[] = {"KB", "MB", "GB", "TB"};
    double value = double(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', value < 10 ? 2 : 1).arg(units[unit]);
}

QString durationText(qint64 ms) {
    const qint64 seconds = (std::max<qint64>(ms, 0) + 500) / 1000;
    if (seconds < 60)
        return QStringLiteral("%1 秒").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 分 %2 秒").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
    return QStringLiteral("%1 小时 %2 分")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QChar('0'));
}

QString progressStatus(const ProgressFigures& f) {
    const QLocale numbers(QLocale::English);
    QStringList parts;
    if (const std::optional<double> share = f.share())
        parts << QStringLiteral("%1%").arg(int(std::floor(*share * 100)));
    if (f.remainingMs)
        parts << QStringLiteral("剩余 ") + durationText(*f.remainingMs);
    if (f.batchesDone >= 0 && f.batchesTotal >= 0)
        parts << QStringLiteral("已执行 %1/%2 批")
                     .arg(numbers.toString(f.batchesDone), numbers.toString(f.batchesTotal));
    else if (f.batchesDone >= 0)
        parts << QStringLiteral("已执行 %1 批").arg(numbers.toString(f.batchesDone));
    else if (f.batchesTotal >= 0)
        parts << QStringLiteral("共 %1 批").arg(numbers.toString(f.batchesTotal));
    parts << QStringLiteral("已用 ") + durationText(f.elapsedMs);
    if (f.bytesDone >= 0 && f.bytesTotal >= 0)
        parts << QStringLiteral("已读 %1/%2").arg(sizeText(f.bytesDone), sizeText(f.bytesTotal));
    if (f.bytesPerSecond >= 0)
        parts << QStringLiteral("%1 MB/s").arg(f.bytesPerSecond / (1024 * 1024), 0, 'f', 1);
    if (f.batchesPerSecond >= 0)
        parts << QStringLiteral("%1 批/s").arg(f.batchesPerSecond, 0, 'f',
                                               f.batchesPerSecond < 10 ? 1 : 0);
    return QString::fromUtf8(kScriptRunning) + ' ' + parts.join(QStringLiteral("，"));
}

QString runLogMissingLine(const QString& why) {
    return QStringLiteral("\r\n无法创建本次执行的日志文件（%1），输出只显示在这里。").arg(why);
}

QString readyStatus(const QString& fileName, qint64 bytes) {
    return QStringLiteral("SQL脚本已就绪：%1（%2）").arg(fileName, sizeText(bytes));
}

RunReport reportRun(const RunOutcome& o) {
    using Kind = RunOutcome::Kind;
    const QString exit = o.exitStatus ? QStringLiteral("退出码 %1").arg(*o.exitStatus)
                                      : QStringLiteral("退出码未知");
    switch (o.kind) {
        case Kind::Clean:
            return {QString::fromUtf8(kCompletionLine), QString::fromUtf8(kScriptFinished)};
        case Kind::Errors: {
            QString status = QStringLiteral("执行完毕，但有 %1 个错误").arg(o.errorCount);
            if (o.firstError)
                status += QStringLiteral("。第一个") + whereText(*o.firstError) +
                          QStringLiteral("：") + messageText(*o.firstError);
            return {QStringLiteral("\r\n执行结束，共有 %1 个错误，请查看上面的返回信息。")
                        .arg(o.errorCount),
                    status};
        }
        case Kind::LoginFailed:
            return {QStringLiteral("\r\n登录失败，脚本没有执行。"),
                    QStringLiteral("登录失败，脚本没有执行：") +
                        (o.firstError ? messageText(*o.firstError) : o.lastLine)};
        case Kind::ClientFailed: {
            const QString why = o.firstError ? messageText(*o.firstError) : o.lastLine;
            QString status = QStringLiteral("sqlcmd 出错退出（%1）").arg(exit);
            if (!why.isEmpty())
                status += QStringLiteral("：") + why;
            return {QStringLiteral("\r\nsqlcmd 出错退出（%1），请查看上面的返回信息。").arg(exit),
                    status};
        }
        case Kind::Killed:
            return {QStringLiteral("\r\n执行中断：sqlcmd 被%1结束。").arg(signalText(o.signal)),
                    QStringLiteral("执行中断：sqlcmd 被%1结束，脚本没有执行完。")
                        .arg(signalText(o.signal))};
        case Kind::Unstarted:
            return {QStringLiteral("\r\n无法启动 sqlcmd。"),
                    QStringLiteral("无法启动 sqlcmd：") + o.lastLine};
        case Kind::Stopped:
            return {QStringLiteral("\r\n执行已停止。"), stoppedText(o)};
        case Kind::BrokeOff:
            return {
                QStringLiteral("\r\n执行中断：命令解释器意外退出。"),
                QStringLiteral(
                    "执行中断：命令解释器意外退出，不知道脚本执行到了哪里。请重新拖入SQL脚本。")};
    }
    return {};
}

}  // namespace quill::exec
