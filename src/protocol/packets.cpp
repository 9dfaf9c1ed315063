#include "protocol/packets.h"

#include <algorithm>
#include <cstring>

namespace qvlink {
namespace {

/// Length of a MAC text: six two-digit groups joined by ":".
constexpr std::size_t kMacTextLength = 17;

/// Writes the MAC text of `hexDump` into `out`, reusing its capacity.
void assignMacFromHexDump(std::string_view hexDump, std::string& out) {
    out.assign(hexDump.substr(0, kMacTextLength));
    std::replace(out.begin(), out.end(), ' ', ':');
}

}  // namespace

DatagramVerdict classifyDatagram(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxDatagramSize) {
        return DatagramVerdict::TooLong;
    }
    if (size < 2 || data[0] != kMagic0 || data[1] != kMagic1) {
        return DatagramVerdict::NoMagic;
    }
    if (size < kMinDatagramSize) {
        return DatagramVerdict::TooShort;
    }
    if (findDeviceType(data[kOffsetDeviceType]) == nullptr) {
        return DatagramVerdict::UnknownType;
    }
    return DatagramVerdict::Accepted;
}

const char* verdictText(DatagramVerdict verdict) {
    switch (verdict) {
        case DatagramVerdict::Accepted:
            return "accepted";
        case DatagramVerdict::TooLong:
            return "too long";
        case DatagramVerdict::NoMagic:
            return "bad magic";
        case DatagramVerdict::TooShort:
            return "too short";
        case DatagramVerdict::UnknownType:
            return "unknown device type";
    }
    return "unknown verdict";
}

bool parsePacket(const std::uint8_t* data, std::size_t size, TPacket& packet) {
    // A datagram longer than the bus allows would not fit the payload area: refuse it
    // rather than trust every caller to have checked.
    if (size < kMinDatagramSize || size > kMaxDatagramSize) {
        return false;
    }
    const DeviceTypeInfo* type = findDeviceType(data[kOffsetDeviceType]);
    if (type == nullptr) {
        return false;
    }

    packet.deviceType = type->code;
    packet.sequenced = type->sequenced;
    packet.payload.fill(0);
    packet.hexDump.clear();
    appendHexDump(data, size, packet.hexDump);
    assignMacFromHexDump(packet.hexDump, packet.macAddr);

    if (type->sequenced) {
        packet.seq = data[kOffsetSequence];
        packet.msgClass = data[kOffsetClass];
        packet.subtype = data[kOffsetSubtype];
        std::memcpy(packet.payload.data(), data + kPayloadOffset, size - kPayloadOffset);
    } else {
        packet.seq = 0;
        packet.msgClass = data[kOffsetClassOnlyClass];
        packet.subtype = 0;
    }
    return true;
}

std::string macFromHexDump(std::string_view hexDump) {
    std::string mac;
    assignMacFromHexDump(hexDump, mac);
    return mac;
}

void appendHexDump(const std::uint8_t* data, std::size_t size, std::string& out) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::size_t at = out.size();
    out.resize(at + 3 * size);
    for (std::size_t i = 0; i < size; ++i) {
        out[at++] = kDigits[data[i] >> 4];
        out[at++] = kDigits[data[i] & 0x0F];
        out[at++] = ' ';
    }
}

}  // namespace qvlink
