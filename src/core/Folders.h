#pragma once

#include <QString>

namespace quill {

// Quillstep's folder under an XDG base directory: $<variable>/Quillstep, or
// ~/<underHome>/Quillstep when the variable is unset or relative (XDG
// ignores relative paths there).
QString xdgFolder(const char* variable, const char* underHome);

// What Quillstep keeps between runs: ~/.local/state/Quillstep by default.
inline QString stateFolder() {
    return xdgFolder("XDG_STATE_HOME", ".local/state");
}

}  // namespace quill
