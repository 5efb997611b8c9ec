#pragma once

#include <QString>
#include <optional>

#include "core/Choices.h"
#include "preflight/ResumeStore.h"
#include "preflight/ScriptScanner.h"

namespace quill::preflight {

// The code page of a script no guess could read, from the offered list;
// nothing when the user dismissed the question (the script must not run).
std::optional<int> askCodePage(Choices& choices, const QString& path, const ScriptFacts& facts);

enum class ResumeAnswer { Continue, FromStart, Dismissed };

// "从第 N 批继续（第 L 行）" or "从头执行" for a broken run of an unchanged script.
ResumeAnswer askResume(Choices& choices, const ResumePoint& point);

}  // namespace quill::preflight
