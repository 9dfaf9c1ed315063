#pragma once

#include <cstring>
#include <stdexcept>
#include <string>

namespace qvlink::sim {

/// A failure of the simulator's sockets or capture, carrying the text shown to the user.
class SimError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// "<what>: <the system's text for `code`>".
inline SimError systemError(const std::string& what, int code) {
    return SimError(what + ": " + std::strerror(code));
}

}  // namespace qvlink::sim
