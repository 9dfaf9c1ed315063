#pragma once

#include <stdexcept>
#include <string>

namespace qvlink {

/// A capture or record file that could not be created, written or rotated; the message names
/// the file and the system's reason.
class WriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Throws WriteError for `path` with the text of the current errno.
[[noreturn]] void throwWriteError(const std::string& path);

}  // namespace qvlink
