#pragma once

#include <stdexcept>

namespace qvlink {

/// The one failure the transport raises. Its message is the text the user sees, unchanged.
class TransportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace qvlink
