#pragma once

#include <string>
#include <string_view>
#include <vector>

// How a command line of the console becomes a program and its arguments.
// Blanks (space, tab) separate arguments; double quotes group, and inside
// quotes a doubled quote stands for one. Every other character, backslash
// included, is taken as it is. No shell is involved: ; | $() ` * mean
// nothing here. Leading words of the form NAME=value (NAME of letters,
// digits and "_", not starting with a digit) are not the program: they set
// variables in that program's environment only.

namespace quill::console {

std::vector<std::string> splitCommandLine(std::string_view line);

// One argument in the form splitCommandLine reads back unchanged.
std::string quoteArgument(std::string_view argument);

// The leading word that sets `name` to `value` for the line's program.
std::string assignmentWord(std::string_view name, std::string_view value);

// Whether a split word is such a NAME=value word.
bool isAssignmentWord(std::string_view word);

}  // namespace quill::console
