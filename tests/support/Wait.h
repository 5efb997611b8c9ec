#pragma once

#include <functional>

namespace quill::test {

// Processes events until pred() holds or timeoutMs passes; returns pred().
bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 5000);

// Processes events for the given time.
void pumpEvents(int ms);

// Whether the process has ended (a zombie counts: only its parent has not
// collected it yet).
bool processGone(long pid);

}  // namespace quill::test
