#pragma once

#include <stdexcept>
#include <string>

namespace qvlink::dump {

/// Exit status of qvlink-dump, as listed in its help text.
enum class ExitCode : int {
    Ok = 0,
    Usage = 1,    ///< bad command line
    Capture = 2,  ///< the capture could not be opened or failed while running
    Write = 3,    ///< an output file could not be written
    Publish = 4,  ///< the broker was away when the capture ended: not all was published
};

/// The one failure the tool reports: a message for the user and the exit status it implies.
class DumpError : public std::runtime_error {
public:
    DumpError(ExitCode code, const std::string& message)
        : std::runtime_error(message), m_code(code) {}
    ExitCode code() const { return m_code; }

private:
    ExitCode m_code;
};

}  // namespace qvlink::dump
