#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

#include "core/Choices.h"
#include "core/FileOpener.h"
#include "core/MessageBoxes.h"
#include "core/SaveDialogs.h"

namespace quill::test {

// Answers message boxes from a queue (OK when the queue is empty) and
// records every box shown.
class ScriptedMessageBoxes : public MessageBoxes {
public:
    struct Shown {
        QString text;
        QString caption;
        unsigned flags;
    };

    void setNextAnswer(int answer) { answers_.push_back(answer); }
    int show(const QString& text, const QString& caption, unsigned flags) override {
        shown.push_back({text, caption, flags});
        if (answers_.empty())
            return IdOk;
        int a = answers_.front();
        answers_.pop_front();
        return a;
    }

    std::vector<Shown> shown;

private:
    std::deque<int> answers_;
};

// Answers questions from a queue (the first option when the queue is
// empty) and records every question asked.
class ScriptedChoices : public Choices {
public:
    struct Asked {
        QString caption;
        QString text;
        QStringList options;
    };

    void setNextAnswer(int index) { answers_.push_back(index); }
    int choose(const QString& caption, const QString& text, const QStringList& options) override {
        asked.push_back({caption, text, options});
        if (answers_.empty())
            return 0;
        int a = answers_.front();
        answers_.pop_front();
        return a;
    }

    std::vector<Asked> asked;

private:
    std::deque<int> answers_;
};

// Records the files the program asked the desktop to open.
class RecordingOpener : public FileOpener {
public:
    bool open(const QString& path) override {
        opened << path;
        return result;
    }
    QStringList opened;
    bool result = true;
};

// Answers "save as" with a given path (empty: the user cancelled) and
// records what was asked.
class ScriptedSaveDialogs : public SaveDialogs {
public:
    QString askSavePath(const QString& caption, const QString& suggestedPath) override {
        asked << caption + " | " + suggestedPath;
        return answer;
    }
    QString answer;
    QStringList asked;
};

}  // namespace quill::test
