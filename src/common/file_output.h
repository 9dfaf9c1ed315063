#pragma once

#include <string>
#include <string_view>

namespace qvlink {

/// Creates or replaces `path` and writes `bytes` into it. Throws std::runtime_error with
/// "Cannot Create file <path>" when the file cannot be created (nothing is written), or with
/// the system's message for a write that fails later (what was written stays).
void saveFileBytes(const std::string& path, std::string_view bytes);

}  // namespace qvlink
