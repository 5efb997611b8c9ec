#pragma once

#include <QString>
#include <QStringList>

namespace quill {

// Questions answered by picking one of a few options: go on from a batch
// or start over, the code page of a script. Behind an interface so tests
// can answer them.
class Choices {
public:
    virtual ~Choices() = default;
    // Returns the index of the option taken, or -1 when the question was
    // dismissed. The first option is the default.
    virtual int choose(const QString& caption, const QString& text, const QStringList& options) = 0;
};

}  // namespace quill
