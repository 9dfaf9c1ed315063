#include "malformed.h"

#include "common/bus_types.h"
#include "datagram_writer.h"

namespace qvlink::sim {
namespace {

/// Type codes next to or far from the known ones, none of them in the table.
constexpr std::array<std::uint8_t, 9> kUnknownTypes{2, 9, 15, 19, 32, 35, 203, 205, 255};

template <typename T, std::size_t N>
T pick(const std::array<T, N>& choices, Random& random) {
    return choices[std::uniform_int_distribution<std::size_t>(0, N - 1)(random)];
}

/// A plausible cyclic TS report of `device` filling the largest datagram.
std::vector<std::uint8_t> fullTsReport(const DeviceIdentity& device, Random& random) {
    DatagramWriter writer;
    writer.beginSequenced(device, kClassTs, kSubtypeCyclic);
    std::uint16_t number = 1;
    while (writer.appendTs(number, static_cast<std::uint8_t>(random() & kFlagState), {})) {
        ++number;
    }
    writer.stampSequence(static_cast<std::uint8_t>(random()));
    return {writer.bytes().begin(), writer.bytes().end()};
}

}  // namespace

const char* malformedKindText(MalformedKind kind) {
    switch (kind) {
        case MalformedKind::BadMagic:
            return "bad magic";
        case MalformedKind::UnknownType:
            return "unknown type";
        case MalformedKind::TooShort:
            return "too short";
        case MalformedKind::TooLong:
            return "too long";
    }
    return "";
}

std::vector<std::uint8_t> buildMalformed(MalformedKind kind, const DeviceIdentity& device,
                                         Random& random) {
    std::vector<std::uint8_t> bytes = fullTsReport(device, random);
    switch (kind) {
        case MalformedKind::BadMagic:
            // Either the two magic bytes swapped or the second one off by one.
            if (std::bernoulli_distribution(0.5)(random)) {
                bytes[0] = kMagic1;
                bytes[1] = kMagic0;
            } else {
                bytes[1] = static_cast<std::uint8_t>(kMagic1 + 1);
            }
            bytes.resize(kPayloadOffset + 4 * kTsItemSize);
            break;
        case MalformedKind::UnknownType:
            bytes[kOffsetDeviceType] = pick(kUnknownTypes, random);
            bytes.resize(kPayloadOffset + 4 * kTsItemSize);
            break;
        case MalformedKind::TooShort:
            bytes.resize(kMinDatagramSize - 1);
            break;
        case MalformedKind::TooLong: {
            const auto extra = std::uniform_int_distribution<std::size_t>(1, 60)(random);
            for (std::size_t i = 0; i < extra; ++i) {
                bytes.push_back(static_cast<std::uint8_t>(random()));
            }
            break;
        }
    }
    return bytes;
}

}  // namespace qvlink::sim
