#pragma once

// The two live capture filters of the tools. Both are compiled by the capture helper only: it
// captures bus traffic and nothing else, whoever starts it.

#include <cstdint>
#include <optional>
#include <string>

namespace qvlink::capture {

enum class CaptureFilter {
    /// IPv4 UDP to or from the bus port, plus later IP fragments (which carry no port), so that
    /// a fragmented bus datagram shows all its pieces.
    Bus,
    /// Datagrams to the port that start with the magic and carry no device type and address,
    /// as commands do (so the devices' own reports are not captured).
    Commands,
};

/// The filter expression of `filter` on `port`.
std::string filterExpression(CaptureFilter filter, std::uint16_t port);

/// "bus" or "commands": how the capture helper's command line names a filter.
const char* filterName(CaptureFilter filter);
std::optional<CaptureFilter> filterFromName(const std::string& name);

}  // namespace qvlink::capture
