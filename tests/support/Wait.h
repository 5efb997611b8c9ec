#pragma once

#include <functional>

namespace quill::test {

// Processes events until pred() holds or timeoutMs passes; returns pred().
bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 5000);

// Processes events for the given time.
void pumpEvents(int ms);

}  // namespace quill::test
