// Bounded waits on the Qt event loop for tests: process events until a condition holds or a
// deadline passes. The loop sleeps in the event dispatcher between rounds (woken at least every
// 10 ms), so a wait costs no processor time.
#pragma once

#include <functional>

namespace testsupport {

// Processes events until done() is true or timeoutMs has passed; returns done().
bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs);

// Processes events for ms milliseconds (for checks that nothing more happens).
void ProcessEventsFor(int ms);

}  // namespace testsupport
