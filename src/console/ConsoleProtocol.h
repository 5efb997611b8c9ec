#pragma once

// The texts by which the command interpreter (quill-cmd) and the script
// output handler understand each other. Plain C++: the interpreter does not
// link Qt.

namespace quill::console {

// Stands in the interpreter's start-up banner.
inline constexpr char kBannerPhrase[] = "保留所有权利";

// Printed when the interpreter is ready for the next line, so it marks the
// end of every command.
inline constexpr char kPrompt[] = "C:\\WINDOWS\\system32>";

// Ends the echo of each line and comes before every prompt but the first.
inline constexpr char kLineBreak[] = "\r\n";

}  // namespace quill::console
