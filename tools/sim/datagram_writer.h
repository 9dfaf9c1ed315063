#pragma once

// Writes the datagrams a field device sends: the header of a sequenced or class-only type,
// TS and TI items with or without their CP56Time2a time tag, and plain body bytes. The
// protocol layer only parses; this is the matching writer, kept to the same constants.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/bus_types.h"
#include "device_identity.h"
#include "protocol/command.h"

namespace qvlink::sim {

/// Largest payload of a sequenced type: the datagram limit less the header.
inline constexpr std::size_t kMaxPayload = kMaxDatagramSize - kPayloadOffset;

/// The time tag that carries `time`: milliseconds within the minute, then minute, hour,
/// day, month and the year within its century.
TTimeTag timeTagOf(const LocalDateTime& time);

class DatagramWriter {
public:
    /// Starts a datagram of a sequenced type. The sequence number is stamped at sending time.
    void beginSequenced(const DeviceIdentity& device, std::uint8_t msgClass, std::uint8_t subtype);
    /// Starts a datagram of a class-only type, whose class stands where others carry the
    /// sequence number.
    void beginClassOnly(const DeviceIdentity& device, std::uint8_t msgClass);

    /// Appends a TS item; the time-tag flag is set exactly when `tag` is given. False, with
    /// nothing written, when the item does not fit.
    bool appendTs(std::uint16_t number, std::uint8_t flags, const std::optional<TTimeTag>& tag);
    /// Appends a TI item (value as IEEE-754 single precision, little-endian).
    bool appendTi(std::uint16_t number, std::uint8_t flags, float value,
                  const std::optional<TTimeTag>& tag);
    bool appendTimeTag(const TTimeTag& tag);
    bool appendBytes(std::span<const std::uint8_t> bytes);

    void stampSequence(std::uint8_t seq) { m_bytes[kOffsetSequence] = seq; }

    std::span<const std::uint8_t> bytes() const { return {m_bytes.data(), m_size}; }

private:
    bool fits(std::size_t count) const { return m_size + count <= m_bytes.size(); }
    void put(std::uint8_t byte) { m_bytes[m_size++] = byte; }
    void putTag(const TTimeTag& tag);

    DatagramArea m_bytes{};
    std::size_t m_size = 0;
};

}  // namespace qvlink::sim
