#pragma once

// A whole capture of the bus in memory: the bus datagrams of one or more capture files
// (a rotated set, or every capture in a folder) in the order they were captured, with the
// count of what was passed over.

#include <sys/time.h>

#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace qvlink::capture {

struct CapturedDatagram {
    /// Capture timestamp, microseconds since 1970 UTC; never earlier than the datagram
    /// before it (a capture that steps back is read as if it had stood still).
    std::int64_t timeUs = 0;
    std::uint32_t sourceIp = 0;  ///< host byte order
    std::uint32_t offset = 0;    ///< of its bytes in BusCapture::bytes
    std::uint32_t size = 0;
    /// Its length on the wire: beyond `size` for a datagram too long for the bus, of which
    /// the capture kept only a part.
    std::uint32_t length = 0;
};

/// Frames of the capture that carry no whole bus datagram, by kind.
struct CaptureSkips {
    std::uint64_t notBus = 0;     ///< other traffic, or frames too short for their headers
    std::uint64_t fragments = 0;  ///< later IP fragments of a bus datagram
    /// Bus datagrams of which the capture kept only a part, and not enough to tell that they
    /// are too long for the bus.
    std::uint64_t truncated = 0;
};

struct BusCapture {
    std::vector<std::string> files;  ///< read in this order
    std::vector<CapturedDatagram> datagrams;
    std::vector<std::uint8_t> bytes;
    CaptureSkips skips;
    /// One message for each file that could not be read to its end or was passed over.
    std::vector<std::string> problems;

    std::span<const std::uint8_t> payload(const CapturedDatagram& datagram) const {
        return {bytes.data() + datagram.offset, datagram.size};
    }
};

/// Told how far a load has come, in bytes of all its files; returns false to give the load up.
using LoadProgress = std::function<bool(std::uint64_t bytesRead, std::uint64_t bytesTotal)>;

/// A load given up because its progress said so.
class CaptureLoadCancelled : public std::runtime_error {
public:
    CaptureLoadCancelled() : std::runtime_error("the capture was not loaded: cancelled") {}
};

/// A frame's time in microseconds since 1970. A damaged timestamp beyond what that holds
/// (about 292,000 years either way) is held at the limit instead of overflowing.
std::int64_t captureMicros(const timeval& time);

/// Reads the bus datagrams to or from `port` out of `paths`: capture files, or folders whose
/// files are read in turn (those that are no capture count as problems). The files are
/// replayed in the order of their first timestamp, the name deciding between equal ones.
/// A datagram longer than `longestDatagram` is kept even when the capture cut it short (as
/// a receiver with a buffer of that size does): its length alone decides it.
/// `progress`, if given, hears how far the load has come every few thousand frames and at the
/// end of each file. Throws CaptureFileError when a named file is no capture or nothing
/// readable is left, CaptureLoadCancelled when `progress` gave the load up.
BusCapture loadBusCapture(const std::vector<std::string>& paths, std::uint16_t port,
                          std::size_t longestDatagram, const LoadProgress& progress = {});

}  // namespace qvlink::capture
