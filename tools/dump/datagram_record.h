#pragma once

// One captured bus datagram in the texts every output of the tool shows.

#include <sys/time.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "busstats/drop_reason.h"
#include "capture_file/frame_decoder.h"
#include "common/bus_types.h"
#include "common/rendering.h"

namespace qvlink::dump {

/// "accepted", or the name of the reason a datagram was dropped or not shown whole by the
/// capture ("bad magic", "too short", ..., "fragment", "truncated").
const char* statusText(std::optional<DropReason> dropped);

struct DatagramRecord {
    LocalDateTime time;       ///< local time of the capture timestamp
    std::int64_t timeMs = 0;  ///< the capture timestamp in milliseconds since 1970
    std::size_t size = 0;     ///< bytes of the datagram, whether captured whole or not
    std::string dateText;     ///< "YYYY-MM-DD" of `time`
    std::string timeText;     ///< timeOfDayText of `time`
    std::string ipText;       ///< sender, dotted decimal
    std::string hexDump;      ///< the captured datagram bytes as in the trace, no trailing blank
    std::string description;  ///< describePacket; empty unless accepted
    std::optional<DropReason> dropped;  ///< why it was dropped; none when accepted
    TPacket packet;                     ///< the parsed datagram; meaningful when accepted
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
