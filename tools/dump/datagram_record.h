#pragma once

// One captured bus datagram in the texts every output of the tool shows.

#include <sys/time.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "capture/frame_decoder.h"
#include "common/bus_types.h"
#include "common/rendering.h"

namespace qvlink::dump {

/// What became of a datagram: accepted by the monitor, dropped for one of its reasons, or
/// not shown whole by the capture.
enum class DumpStatus : std::uint8_t {
    Accepted,
    TooLong,
    NoMagic,
    TooShort,
    UnknownType,
    Fragment,   ///< a later IP fragment; the capture shows the datagram's first fragment
    Truncated,  ///< the capture holds fewer bytes than the datagram has
};
inline constexpr std::size_t kDumpStatusCount = 7;

/// "accepted", the monitor's drop reasons ("bad magic", "too short", ...), "fragment",
/// "truncated".
const char* statusText(DumpStatus status);

struct DatagramRecord {
    LocalDateTime time;       ///< local time of the capture timestamp
    std::string dateText;     ///< "YYYY-MM-DD" of `time`
    std::string timeText;     ///< timeOfDayText of `time`
    std::string ipText;       ///< sender, dotted decimal
    std::string hexDump;      ///< the captured datagram bytes as in the trace, no trailing blank
    std::string description;  ///< describePacket; empty unless accepted
    DumpStatus status = DumpStatus::Accepted;
    TPacket packet;  ///< the parsed datagram; meaningful when accepted
};

/// Turns decoded frames into records with the monitor's own checks, parser and texts.
/// Keeps its buffers between datagrams, so building a record allocates little.
class RecordBuilder {
public:
    explicit RecordBuilder(FormatSettings format);

    /// Fills `record` from a frame that carries a bus datagram (kind other than NotBus).
    void build(const timeval& timestamp, const capture::FrameDatagram& frame,
               DatagramRecord& record);

private:
    void setTime(const timeval& timestamp, DatagramRecord& record);

    FormatSettings m_format;
    std::time_t m_cachedSecond = -1;
    LocalDateTime m_cachedTime;
    std::string m_cachedDate;
};

}  // namespace qvlink::dump
