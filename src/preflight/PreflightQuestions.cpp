#include "preflight/PreflightQuestions.h"

#include "preflight/PreflightTexts.h"

namespace quill::preflight {

std::optional<int> askCodePage(Choices& choices, const QString& path, const ScriptFacts& facts) {
    const QList<int> pages = offeredCodePages();
    QStringList labels;
    for (int page : pages)
        labels << codePageLabel(page);
    const int index = choices.choose(codePageCaption(), codePageQuestion(path, facts), labels);
    if (index < 0 || index >= pages.size())
        return std::nullopt;
    return pages[index];
}

ResumeAnswer askResume(Choices& choices, const ResumePoint& point) {
    switch (choices.choose(resumeCaption(), resumeQuestion(point), resumeOptions(point))) {
        case kResumeContinue:
            return ResumeAnswer::Continue;
        case kResumeFromStart:
            return ResumeAnswer::FromStart;
        default:
            return ResumeAnswer::Dismissed;
    }
}

}  // namespace quill::preflight
