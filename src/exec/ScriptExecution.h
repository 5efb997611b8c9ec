#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

#include "console/Console.h"

namespace quill {
class Form;
}

namespace quill::exec {

class OutputChannel;

// The texts of a script run.
inline constexpr char kLogBanner[] = " -------------Quillrun-------------- \r\n\r\n";
inline constexpr char kCompletionLine[] = "\r\n处理完成，根据返回信息查看。";
inline constexpr char kScriptMissing[] = "SQL脚本不存在";
inline constexpr char kScriptRunning[] = "SQL文件正在执行中，请等待.....";
inline constexpr char kScriptFinished[] = "SQL文件执行完毕，请在Management Studio中查看。";
inline constexpr char kLineBreakInCommand[] = "SQL脚本路径、用户名或密码中含有换行符，无法执行。";
inline constexpr char kConsoleGone[] = "命令解释器未运行，请重新拖入SQL脚本后再执行。";

// Runs the dropped script with sqlcmd in the console, and shows what the
// console prints in the log box. Lives on the GUI thread; output arriving on
// a reader thread is handed over in order, and whatever piled up meanwhile
// goes into the log in one insertion. Insertions are paced by a zero timer,
// so that under a flood of output the window still gets a turn between two.
class ScriptExecution : public QObject {
    Q_OBJECT
public:
    ScriptExecution(Form& form, Console& console, QObject* parent = nullptr);
    ~ScriptExecution() override;

    // 按钮4 clicked: checks that the script exists, sends the sqlcmd line and
    // disables 按钮4 until the console's prompt returns.
    void executeScript();

    // The output handler for a console instance about to start. From now on
    // that instance's output, and no earlier one's, reaches the window.
    Console::OutputHandler outputHandler();

private:
    void drain(OutputChannel& channel);

    Form& form_;
    Console& console_;
    std::shared_ptr<OutputChannel> channel_;
    QTimer drainTimer_;
};

}  // namespace quill::exec
