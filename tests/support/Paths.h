#pragma once

#include <QString>

namespace quill::test {

// build/bin, where the programs under test live (set by ctest).
QString binDir();
// A program in build/bin.
QString binPath(const QString& name);
// The source tree.
QString sourceDir();

}  // namespace quill::test
