#pragma once

#include <string>
#include <vector>

namespace quill::cmd {

// Runs one command (program and arguments, as split from the line) and
// waits for it to end. Its output goes where the interpreter's goes; its
// input is empty. Problems are printed as one line of text.
void runCommand(std::vector<std::string> args);

// Writes all of text to standard output.
void print(const std::string& text);

}  // namespace quill::cmd
