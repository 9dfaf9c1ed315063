#pragma once

// Running the GUI thread's event loop from the benchmark's sequential code, as the program's
// own loop would run it.

#include <functional>

namespace qvlink::bench {

/// Runs the event loop for `milliseconds`.
void runEventsFor(int milliseconds);
/// Runs the event loop until `done()` holds (looked at every `checkMs`) or `timeoutMs`
/// passes; returns `done()`.
bool runEventsUntil(const std::function<bool()>& done, int timeoutMs, int checkMs = 5);

}  // namespace qvlink::bench
