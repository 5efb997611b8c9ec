#pragma once

#include <QString>

namespace quill {

// Where the program finds its console interpreter, and whether it runs from
// an installed tree.
struct ProgramLayout {
    QString interpreter;  // quill-cmd
    bool installed = false;
    // True when the interpreter was found at all (a broken install, or a
    // program copied away from its companions, has none).
    bool interpreterFound = false;
};

// Looks beside the program first (the build tree, or a folder holding all
// the programs together), then at the interpreter's installed place relative
// to the program's folder. Without either, names the place beside it.
ProgramLayout programLayout(const QString& programDir);

}  // namespace quill
