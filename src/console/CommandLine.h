#pragma once

#include <string>
#include <string_view>
#include <vector>

// How a command line of the console becomes a program and its arguments.
// Blanks (space, tab) separate arguments; double quotes group, and inside
// quotes a doubled quote stands for one. Every other character, backslash
// included, is taken as it is. No shell is involved: ; | $() ` * mean
// nothing here.

namespace quill::console {

std::vector<std::string> splitCommandLine(std::string_view line);

// One argument in the form splitCommandLine reads back unchanged.
std::string quoteArgument(std::string_view argument);

}  // namespace quill::console
