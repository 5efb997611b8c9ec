#include "app/WindowFlows.h"

namespace quill {

const char* const kHelpText =
    "本程序为SQL Server数据库降级开发\r\n"
    "1、先将高版本的数据库生成为SQL脚本，以2008R2为例方法如下：\r\n"
    "  打开Management Studio - 选择降级数据库 - 右键 - 任务 - 生成脚本(E) - 设置脚本编写选项 - "
    "（先修改要保持的路径） - 高级 - 为服务器版本编写脚本（选择要降到的目标版本） - "
    "要编写脚本的数据类型（选择架构和数据） - 下一步 - 完成 →得到相应的SQL脚本。\r\n"
    "2、在低版本SQL Server机器上打开本程序 - 输入SA密码 - 连接 - 将SQL脚本拖入右侧路径条 - "
    "点击执行SQL脚本 - 等待完成。\r\n"
    "3、SQL Server连接失败（Windows身份验证不存在次问题）可根据以下方法操作：\r\n"
    "  Management Studio - 选择相应实例 - 右键 -属性 -安全性 - 服务器身份验证 - "
    "选择SQL Server和Windows身份验证模式 - 状态 - 取消登录已锁定 - 确定\r\n"
    "  展开实例 - 安全性 - SA - 右键 - 属性 - 常规 -修改密码 - 确定 -重启SQL Server相关服务"
    "（不会操作可以重启电脑） - 再次使用本程序操作。\r\n"
    "4、本程序的数据库删除功能可能无法删除正在使用的数据库，可以自行到Management Studio中操作。";

const char* const kCloseQuestion = "确认要关闭本程序？？？\r\n退出会导致执行中断！！！";

void onAuthModeSelected(Form& form) {
    const bool sqlServerAuth = form.authIndex() == 1;
    form.setText(Control::编辑框2, sqlServerAuth ? "SA" : "Administrator");
    form.setEnabled(Control::编辑框2, sqlServerAuth);
    form.setEnabled(Control::编辑框3, sqlServerAuth);
}

void onHelpClicked(MessageBoxes& boxes) {
    boxes.show(QString::fromUtf8(kHelpText), "帮助：", mb::Ok | mb::TaskModal);
}

bool confirmClose(MessageBoxes& boxes) {
    const int answer = boxes.show(QString::fromUtf8(kCloseQuestion), "警告：",
                                  mb::OkCancel | mb::IconExclamation | mb::TaskModal);
    return answer == IdOk;
}

bool nameSelectedDatabase(const Form& form, ProgramState& state) {
    state.setSelectedDatabaseName(form.listCell(form.selectedListRow(), 1));
    return form.selectedListRow() != -1;
}

}  // namespace quill
