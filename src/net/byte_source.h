#pragma once

#include <cstddef>

namespace qvlink {

/// Where the HTTP response reader gets its bytes: a connected socket in the program, memory in
/// tests and fuzzing.
class ByteSource {
public:
    virtual ~ByteSource() = default;

    /// Waits for at least one byte and copies up to `capacity` (> 0) of them into `buffer`.
    /// Returns 0 once the peer has closed its side. Failures raise TransportError.
    virtual std::size_t read(char* buffer, std::size_t capacity) = 0;
};

}  // namespace qvlink
