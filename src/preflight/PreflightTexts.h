#pragma once

// Every text of the pre-flight and of resuming that the user reads, in one
// place. The other parts of the pre-flight deal in plain values only.

#include <QList>
#include <QString>
#include <QStringList>

#include "preflight/ClientCommand.h"
#include "preflight/RemainderScript.h"
#include "preflight/ResumeStore.h"
#include "preflight/ScriptScanner.h"

namespace quill::preflight {

// The short report the log shows right after a drop: a few lines, each
// ending in "\r\n"; empty for a cancelled scan.
QString preflightReport(const ScriptFacts& facts, ScriptClient client);

// The question when no code page fitted, and the code pages offered, in
// the order shown (only those this system can decode).
QString codePageCaption();
QString codePageQuestion(const QString& path, const ScriptFacts& facts);
QList<int> offeredCodePages();
QString codePageLabel(int codePage);

// The offer for a broken run of an unchanged script: "从第 N 批继续（第 L 行）"
// (index 0) or "从头执行" (index 1).
QString resumeCaption();
QString resumeQuestion(const ResumePoint& point);
QStringList resumeOptions(const ResumePoint& point);
inline constexpr int kResumeContinue = 0;
inline constexpr int kResumeFromStart = 1;

// Why a resume with Microsoft's sqlcmd cannot go on.
QString remainderFailure(const Remainder& remainder);

// Panel 1 when 按钮4 cannot run the script now.
QString scanningStatus();     // the pre-flight has not finished
QString changedStatus();      // the file changed after its pre-flight: it is scanned again
QString notRunnableStatus();  // the report says why
QString noCodePageStatus();   // the code-page question was dismissed
QString noStartStatus();      // the resume question was dismissed

// Lines for the log (ending in "\r\n").
QString rescanLine(int codePage);
// Before a run that goes on from a broken one.
QString resumingLine(const ResumePoint& point);
// After a run that left something to resume.
QString resumableLine(const ResumePoint& point);
// The run goes on, but where it gets cannot be recorded.
QString journalFailure(const QString& reason);

}  // namespace quill::preflight
