#include "preflight/PreflightTexts.h"

#include <QFileInfo>
#include <QLocale>
#include <cerrno>
#include <cstring>

#include "Decoder.h"

namespace quill::preflight {

namespace {

const QString kEol = QStringLiteral("\r\n");
// Paths listed at most; a script names two per database as a rule.
constexpr int kListedPaths = 4;

QString number(qint64 n) {
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(n);
}

QString bytes(quint64 n) {
    if (n < 1024)
        return QStringLiteral("%1 字节").arg(n);
    const char* units[] = {"KB", "MB", "GB", "TB"};
    double value = double(n) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

QString systemError(int error) {
    switch (error) {
        case ENOENT:
            return QStringLiteral("文件不存在");
        case EISDIR:
            return QStringLiteral("这是一个文件夹");
        case EACCES:
        case EPERM:
            return QStringLiteral("没有权限");
        case ENOSPC:
            return QStringLiteral("磁盘已满");
        default:
            return QString::fromLocal8Bit(std::strerror(error));
    }
}

QString u8(const std::string& s) {
    return QString::fromStdString(s);
}

QString encodingText(const ScriptFacts& f) {
    switch (f.encoding) {
        case TextEncoding::Utf8:
            return QStringLiteral("UTF-8");
        case TextEncoding::Utf8Bom:
            return QStringLiteral("UTF-8（带 BOM）");
        case TextEncoding::Utf16LE:
            return f.codePage ? QStringLiteral("UTF-16LE（无 BOM）")
                              : QStringLiteral("UTF-16LE（带 BOM）");
        case TextEncoding::Utf16BE:
            return f.codePage ? QStringLiteral("UTF-16BE（无 BOM）")
                              : QStringLiteral("UTF-16BE（带 BOM）");
        case TextEncoding::Utf32LE:
            return QStringLiteral("UTF-32LE（带 BOM）");
        case TextEncoding::Utf32BE:
            return QStringLiteral("UTF-32BE（带 BOM）");
        case TextEncoding::CodePage:
            return codePageLabel(f.codePage);
    }
    return {};
}

QString lineEndingsText(LineEndings e) {
    switch (e) {
        case LineEndings::Crlf:
            return QStringLiteral("CRLF 换行");
        case LineEndings::Lf:
            return QStringLiteral("LF 换行");
        case LineEndings::Mixed:
            return QStringLiteral("CRLF 与 LF 混用");
        case LineEndings::None:
            break;
    }
    return QStringLiteral("无换行");
}

QString failureText(const DecodeFailure& f) {
    QString where = QStringLiteral("第 %1 行").arg(number(f.line));
    if (f.kind != DecodeFailure::Kind::PrivateUse)
        where += QStringLiteral("（字节 %1）").arg(number(qint64(f.offset)));
    switch (f.kind) {
        case DecodeFailure::Kind::Invalid:
            return where + QStringLiteral("有无效的字节");
        case DecodeFailure::Kind::Nul:
            return where + QStringLiteral("有 NUL 字符");
        case DecodeFailure::Kind::Truncated:
            return where + QStringLiteral("：文件在一个字符中间结束");
        case DecodeFailure::Kind::PrivateUse:
            return where + QStringLiteral("读出的是私用区字符");
        case DecodeFailure::Kind::Unsupported:
            return QStringLiteral("本机不支持代码页 %1").arg(f.codePage);
    }
    return where;
}

QString commandsText(const ScriptFacts& f) {
    QStringList parts;
    for (const CommandUse& c : f.commands)
        parts << QStringLiteral("%1 ×%2（第 %3 行）")
                     .arg(u8(c.name))
                     .arg(c.count)
                     .arg(number(c.firstLine));
    if (f.variableReferences > 0)
        parts << QStringLiteral("$(…) ×%1（第 %2 行）")
                     .arg(f.variableReferences)
                     .arg(number(f.firstVariableLine));
    return parts.join(QStringLiteral("，"));
}

}  // namespace

QString preflightReport(const ScriptFacts& f, ScriptClient client) {
    if (f.cancelled)
        return {};
    if (f.readError)
        return QStringLiteral("脚本检查：无法读取脚本（%1）。").arg(systemError(f.readError)) +
               kEol;

    QString r = QStringLiteral("脚本检查：%1").arg(bytes(f.size));
    if (f.needsCodePage) {
        r += QStringLiteral("，不是 UTF-8，也不是 GBK 或 GB18030：%1，需要选择代码页。")
                 .arg(failureText(*f.decodeFailure)) +
             kEol;
        return r;
    }
    r += QStringLiteral("，%1").arg(encodingText(f));
    if (f.decodeFailure) {
        r += QStringLiteral("，无法解码：%1。脚本不会执行。").arg(failureText(*f.decodeFailure)) +
             kEol;
        return r;
    }
    r += QStringLiteral("，%1，%2 行").arg(lineEndingsText(f.lineEndings), number(f.lines)) + kEol;
    if (f.encoding == TextEncoding::CodePage && !f.sample.empty())
        r += QStringLiteral("按代码页 %1 读出的示例：%2").arg(f.codePage).arg(u8(f.sample)) + kEol;

    r += QStringLiteral("批次：%1%2 批")
             .arg(f.batchesExact ? QString() : QStringLiteral("至少 "), number(f.batches));
    if (f.batches > 0)
        r += QStringLiteral("；最大一批 %1（第 %2 批，第 %3 行起）")
                 .arg(bytes(f.largestBatchBytes), number(f.largestBatch),
                      number(f.largestBatchLine));
    if (f.command(":r"))
        r += QStringLiteral("；不含 :r 引入的文件");
    r += kEol;

    if (const QString commands = commandsText(f); !commands.isEmpty())
        r += QStringLiteral("sqlcmd 命令：%1").arg(commands) + kEol;
    if (f.stopLine > 0)
        r += QStringLiteral("第 %1 行的 exit/quit 之后的内容不会执行。").arg(number(f.stopLine)) +
             kEol;

    if (f.syntaxError)
        r += QStringLiteral("注意：第 %1 行 sqlcmd 语法错误（%2），%3。")
                 .arg(number(f.syntaxError->line), u8(f.syntaxError->near),
                      client == ScriptClient::QuillSqlcmd
                          ? QStringLiteral("quill-sqlcmd 不会执行此脚本")
                          : QStringLiteral("sqlcmd 会在此处停止")) +
             kEol;
    if (client == ScriptClient::QuillSqlcmd) {
        for (const CommandUse& c : f.commands)
            if (c.refused)
                r += QStringLiteral("注意：quill-sqlcmd 不支持第 %1 行的 %2，不会执行此脚本。")
                         .arg(number(c.firstLine), u8(c.name)) +
                     kEol;
        for (const auto& [name, line] : f.undefinedVariables)
            r += QStringLiteral("注意：变量 $(%1)（第 %2 行）没有定义，将原样发送。")
                     .arg(u8(name), number(line)) +
                 kEol;
    } else if (f.variableReferences > 0 && !f.command(":setvar")) {
        r += QStringLiteral("注意：Microsoft sqlcmd 会把数据中的 $(…) 当作变量替换（第 %1 行起）。")
                 .arg(number(f.firstVariableLine)) +
             kEol;
    }

    if (!f.databaseFiles.empty()) {
        r += QStringLiteral(
                 "注意：CREATE DATABASE "
                 "写的是源服务器的数据文件路径，目标服务器上没有这些文件夹时，整个脚本会在第一批失"
                 "败：") +
             kEol;
        const int listed = qMin<int>(kListedPaths, int(f.databaseFiles.size()));
        for (int i = 0; i < listed; ++i)
            r += QStringLiteral("  %1（第 %2 行）")
                     .arg(u8(f.databaseFiles[i].path), number(f.databaseFiles[i].line)) +
                 kEol;
        if (int(f.databaseFiles.size()) > listed)
            r += QStringLiteral("  另有 %1 个").arg(int(f.databaseFiles.size()) - listed) + kEol;
    }
    return r;
}

QString codePageCaption() {
    return QStringLiteral("选择代码页");
}

QString codePageQuestion(const QString& path, const ScriptFacts& f) {
    QString text =
        QStringLiteral("%1 不是 UTF-8，也不是 GBK 或 GB18030").arg(QFileInfo(path).fileName());
    if (f.decodeFailure)
        text += QStringLiteral("（%1）").arg(failureText(*f.decodeFailure));
    return text + QStringLiteral("。\r\n请选择保存脚本时使用的代码页：");
}

QList<int> offeredCodePages() {
    QList<int> pages;
    for (int cp : {936, 54936, 950, 1252, 932, 949, 1250, 1251, 65001})
        if (sqlcmd::Decoder::supported(cp))
            pages << cp;
    return pages;
}

QString codePageLabel(int codePage) {
    switch (codePage) {
        case 936:
            return QStringLiteral("代码页 936（简体中文 GBK）");
        case 54936:
            return QStringLiteral("代码页 54936（简体中文 GB18030）");
        case 950:
            return QStringLiteral("代码页 950（繁体中文 Big5）");
        case 1252:
            return QStringLiteral("代码页 1252（西欧）");
        case 932:
            return QStringLiteral("代码页 932（日文 Shift-JIS）");
        case 949:
            return QStringLiteral("代码页 949（韩文）");
        case 1250:
            return QStringLiteral("代码页 1250（中欧）");
        case 1251:
            return QStringLiteral("代码页 1251（西里尔文）");
        case 65001:
            return QStringLiteral("代码页 65001（UTF-8）");
        default:
            return QStringLiteral("代码页 %1").arg(codePage);
    }
}

QString resumeCaption() {
    return QStringLiteral("继续上次执行");
}

QString resumeQuestion(const ResumePoint& p) {
    return QStringLiteral(
               "此脚本上次没有执行完：第 1 至 %1 批已在服务器上完成。\r\n"
               "中断时正在执行第 %2 批，它可能已部分写入，请先在 Management Studio 中核对。")
        .arg(number(p.nextBatch - 1), number(p.nextBatch));
}

QStringList resumeOptions(const ResumePoint& p) {
    return {QStringLiteral("从第 %1 批继续（第 %2 行）").arg(p.nextBatch).arg(p.nextLine),
            QStringLiteral("从头执行")};
}

QString remainderFailure(const Remainder& r) {
    switch (r.outcome) {
        case Remainder::Outcome::Written:
            return {};
        case Remainder::Outcome::NothingLeft:
            return QStringLiteral("上次执行已到脚本末尾，没有剩余的批次。");
        case Remainder::Outcome::Mismatch:
            return QStringLiteral("记录的位置与脚本不符，无法继续，请从头执行。");
        case Remainder::Outcome::Includes:
            return QStringLiteral("脚本用 :r 引入了其他文件，只有 quill-sqlcmd 能从中途继续。");
        case Remainder::Outcome::Unreadable:
            if (r.errorNumber == 0)
                return QStringLiteral("无法读取或解码脚本，请重新拖入脚本查看检查结果。");
            return QStringLiteral("无法读取脚本（%1）。").arg(systemError(r.errorNumber));
        case Remainder::Outcome::WriteFailed:
            return QStringLiteral("无法写入剩余部分的脚本（%1）。").arg(systemError(r.errorNumber));
    }
    return {};
}

QString scanningStatus() {
    return QStringLiteral("正在检查脚本，请稍候再执行。");
}

QString changedStatus() {
    return QStringLiteral("脚本在检查之后有改动，正在重新检查，请稍候再执行。");
}

QString notRunnableStatus() {
    return QStringLiteral("脚本无法执行，原因见检查结果。");
}

QString noCodePageStatus() {
    return QStringLiteral("没有选择代码页，脚本不会执行。");
}

QString noStartStatus() {
    return QStringLiteral("没有选择从哪里开始，脚本没有执行。");
}

QString rescanLine(int codePage) {
    return QStringLiteral("按%1重新检查脚本……").arg(codePageLabel(codePage)) + kEol;
}

QString resumingLine(const ResumePoint& p) {
    return QStringLiteral("从第 %1 批继续执行（第 %2 行起），前 %3 批不再发送。")
               .arg(p.nextBatch)
               .arg(p.nextLine)
               .arg(p.nextBatch - 1) +
           kEol;
}

QString resumableLine(const ResumePoint& p) {
    return kEol +
           QStringLiteral(
               "脚本没有执行完：再次执行或重新拖入此脚本时，可以从第 %1 批（第 %2 行）继续。")
               .arg(p.nextBatch)
               .arg(p.nextLine) +
           kEol;
}

QString journalFailure(const QString& reason) {
    return QStringLiteral("注意：无法记录执行进度（%1），中断后将不能从中途继续。").arg(reason) +
           kEol;
}

}  // namespace quill::preflight
