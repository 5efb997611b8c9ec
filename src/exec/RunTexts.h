#pragma once

#include <QString>

namespace quill::exec {

struct RunOutcome;
struct ProgressFigures;

// Every text the script run shows: the log box, status panel 1, 按钮4's
// caption and the stop question. Texts with "\r\n" are for the log box and
// message boxes. Panel 1 shows about 25 characters; a longer status leads
// with what matters and has the whole text as its tooltip.

inline constexpr char kLogBanner[] = " -------------Quillrun-------------- \r\n\r\n";
inline constexpr char kCompletionLine[] = "\r\n处理完成，根据返回信息查看。";
inline constexpr char kScriptMissing[] = "SQL脚本不存在";
inline constexpr char kScriptRunning[] = "SQL文件正在执行中，请等待.....";
inline constexpr char kScriptFinished[] = "SQL文件执行完毕，请在Management Studio中查看。";
inline constexpr char kConnectFirst[] = "请先连接数据库后再进行操作。";
inline constexpr char kLineBreakInCommand[] = "SQL脚本路径、用户名或密码中含有换行符，无法执行。";
inline constexpr char kConsoleGone[] = "命令解释器未运行，请重新拖入SQL脚本后再执行。";
inline constexpr char kDropDuringRun[] = "脚本正在执行，请先停止或等待执行完毕再拖入。";

inline constexpr char kRunButton[] = "执行SQL脚本";
inline constexpr char kStopButton[] = "停止执行";
inline constexpr char kStopCaption[] = "警告：";
inline constexpr char kStopQuestion[] =
    "确认要停止执行SQL脚本？\r\n正在执行的批次将被取消，已经执行完的批次不会撤销。";
inline constexpr char kStopping[] = "正在停止执行，请稍候.....";

// A run whose log file could not be made; its output is still shown.
QString runLogMissingLine(const QString& why);

// The first prompt after a drop: nothing has run yet.
QString readyStatus(const QString& fileName, qint64 bytes);

// "532 字节", "12.5 KB", "3.4 MB", "1.25 GB".
QString sizeText(qint64 bytes);

// "45 秒", "3 分 05 秒", "2 小时 03 分".
QString durationText(qint64 ms);

// The status of a run under way: kScriptRunning, then what is known of its
// progress, the most telling first (share and remaining time fit the panel).
QString progressStatus(const ProgressFigures& figures);

// What the end of a run shows: the line the log box gets, and the status.
struct RunReport {
    QString logLine;  // "\r\n" line breaks
    QString status;
};
RunReport reportRun(const RunOutcome& outcome);

}  // namespace quill::exec
