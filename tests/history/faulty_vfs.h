#pragma once

// A SQLite file layer over the system's that can be told the disk is full: every write then
// fails as a write to a full file system does (SQLITE_FULL), until space "returns".

#include <atomic>

namespace qvlink::test {

/// Name under which the layer is registered (not as the default).
inline constexpr const char* kFaultyVfsName = "qvlink-test-faulty";

/// Registers the layer once; the flag makes its writes fail while true.
std::atomic<bool>& registerFaultyVfs();

}  // namespace qvlink::test
