#include "datagram_writer.h"

#include <bit>
#include <cstring>

namespace qvlink::sim {
namespace {

std::uint8_t withTagFlag(std::uint8_t flags, bool tagged) {
    return static_cast<std::uint8_t>(tagged ? (flags | kTimeTagFollows)
                                            : (flags & ~kTimeTagFollows));
}

}  // namespace

TTimeTag timeTagOf(const LocalDateTime& time) {
    TTimeTag tag;
    tag.year = static_cast<std::uint8_t>(time.year % 100);
    tag.month = static_cast<std::uint8_t>(time.month);
    tag.day = static_cast<std::uint8_t>(time.day);
    tag.hour = static_cast<std::uint8_t>(time.hour);
    tag.minute = static_cast<std::uint8_t>(time.minute);
    tag.msec = static_cast<std::uint16_t>(time.second * 1000 + time.msec);
    return tag;
}

void DatagramWriter::beginSequenced(const DeviceIdentity& device, std::uint8_t msgClass,
                                    std::uint8_t subtype) {
    m_size = 0;
    put(kMagic0);
    put(kMagic1);
    put(device.type);
    for (std::uint8_t byte : device.address) {
        put(byte);
    }
    put(0);  // sequence number, stamped when the datagram goes out
    put(msgClass);
    put(subtype);
}

void DatagramWriter::beginClassOnly(const DeviceIdentity& device, std::uint8_t msgClass) {
    m_size = 0;
    put(kMagic0);
    put(kMagic1);
    put(device.type);
    for (std::uint8_t byte : device.address) {
        put(byte);
    }
    put(msgClass);
}

bool DatagramWriter::appendTs(std::uint16_t number, std::uint8_t flags,
                              const std::optional<TTimeTag>& tag) {
    if (!fits(kTsItemSize + (tag ? kTimeTagSize : 0))) {
        return false;
    }
    put(static_cast<std::uint8_t>(number & 0xFF));
    put(static_cast<std::uint8_t>(number >> 8));
    put(withTagFlag(flags, tag.has_value()));
    if (tag) {
        putTag(*tag);
    }
    return true;
}

bool DatagramWriter::appendTi(std::uint16_t number, std::uint8_t flags, float value,
                              const std::optional<TTimeTag>& tag) {
    if (!fits(kTiItemSize + (tag ? kTimeTagSize : 0))) {
        return false;
    }
    put(static_cast<std::uint8_t>(number & 0xFF));
    put(static_cast<std::uint8_t>(number >> 8));
    put(withTagFlag(flags, tag.has_value()));
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) {
        put(static_cast<std::uint8_t>(bits >> shift));
    }
    if (tag) {
        putTag(*tag);
    }
    return true;
}

bool DatagramWriter::appendTimeTag(const TTimeTag& tag) {
    if (!fits(kTimeTagSize)) {
        return false;
    }
    putTag(tag);
    return true;
}

bool DatagramWriter::appendBytes(std::span<const std::uint8_t> bytes) {
    if (!fits(bytes.size())) {
        return false;
    }
    if (!bytes.empty()) {
        std::memcpy(m_bytes.data() + m_size, bytes.data(), bytes.size());
    }
    m_size += bytes.size();
    return true;
}

void DatagramWriter::putTag(const TTimeTag& tag) {
    put(static_cast<std::uint8_t>(tag.msec & 0xFF));
    put(static_cast<std::uint8_t>(tag.msec >> 8));
    put(tag.minute);
    put(tag.hour);
    put(tag.day);
    put(tag.month);
    put(tag.year);
}

}  // namespace qvlink::sim
