#pragma once

// Wire facts and records of the QV-LINK bus shared by the protocol and state layers.
// Every constant of the datagram format is declared here once; the parser, the description
// text, the tables and the simulator all read them from this header.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qvlink {

/// UDP port on which every device of the bus sends and listens.
inline constexpr std::uint16_t kBusPort = 973;

inline constexpr std::uint8_t kMagic0 = 0xFA;
inline constexpr std::uint8_t kMagic1 = 0xCE;

/// Largest datagram the bus carries; anything longer is dropped whole.
inline constexpr std::size_t kMaxDatagramSize = 240;
/// Shortest datagram the parser accepts (header of a sequenced type plus one payload byte).
inline constexpr std::size_t kMinDatagramSize = 10;
/// Offset of the first payload byte of a sequenced device type.
inline constexpr std::size_t kPayloadOffset = 9;
/// Size of the zero-padded payload area that item walks read from.
inline constexpr std::size_t kPayloadAreaSize = 234;

// Header offsets of a received datagram.
inline constexpr std::size_t kOffsetDeviceType = 2;
inline constexpr std::size_t kOffsetSequence = 6;  // class byte for class-only types
inline constexpr std::size_t kOffsetClass = 7;
inline constexpr std::size_t kOffsetSubtype = 8;
inline constexpr std::size_t kOffsetClassOnlyClass = 6;

// Message classes of sequenced types.
inline constexpr std::uint8_t kClassTi = 1;
inline constexpr std::uint8_t kClassTs = 2;
inline constexpr std::uint8_t kClassTu = 3;
inline constexpr std::uint8_t kClassTime = 4;
inline constexpr std::uint8_t kClassSilence = 5;
inline constexpr std::uint8_t kClassText = 6;

// Message classes of class-only types.
inline constexpr std::uint8_t kClassOnlyTimeSetting = 1;
inline constexpr std::uint8_t kClassOnlyTs = 68;
inline constexpr std::uint8_t kClassOnlyTi = 72;

// Subtypes of TS and TI reports.
inline constexpr std::uint8_t kSubtypeCyclic = 2;
inline constexpr std::uint8_t kSubtypeSporadic = 3;

// Subtype of the change-IP command (class kClassText).
inline constexpr std::uint8_t kSubtypeSetIp = 10;

// Item flag bits.
inline constexpr std::uint8_t kFlagState = 0x01;        ///< state bit; low bit of a pair
inline constexpr std::uint8_t kFlagHighBit = 0x02;      ///< high bit of a two-position pair
inline constexpr std::uint8_t kFlagDoublePoint = 0x04;  ///< the signal is two-position
inline constexpr std::uint8_t kTimeTagFollows = 0x08;   ///< a 7-byte time tag follows

// Item sizes on the wire.
inline constexpr std::size_t kTsItemSize = 3;
inline constexpr std::size_t kTiItemSize = 7;
inline constexpr std::size_t kTimeTagSize = 7;

/// Number of points in each of the TS and TI tables (numbered 1 to 500).
inline constexpr std::uint16_t kPointCount = 500;

/// How the trace description names the classes of a device type.
enum class DescriptionFamily : std::uint8_t {
    Telemechanics,  ///< classes 1 to 6 are named (types 1, 16, 17, 18)
    NameOnly,       ///< only the device name is shown (types 33, 34)
    ClassOnly,      ///< classes 1, 68, 72 are named (types 8, 204)
};

struct DeviceTypeInfo {
    std::uint8_t code;
    bool sequenced;  ///< carries sequence number, class, subtype and a payload
    DescriptionFamily family;
    const char* name;  ///< display name, UTF-8
};

/// The eight device types the bus knows; any other type code is dropped.
inline constexpr std::array<DeviceTypeInfo, 8> kDeviceTypes{{
    {1, true, DescriptionFamily::Telemechanics, "Тирон"},
    {16, true, DescriptionFamily::Telemechanics, "Ларта-К"},
    {17, true, DescriptionFamily::Telemechanics, "Ровен-8"},
    {18, true, DescriptionFamily::Telemechanics, "Ларта-К"},
    {33, true, DescriptionFamily::NameOnly, "Ведра"},
    {34, true, DescriptionFamily::NameOnly, "Ведра"},
    {8, false, DescriptionFamily::ClassOnly, "Ларта-Т"},
    {204, false, DescriptionFamily::ClassOnly, "Ларта-С"},
}};

/// The type's entry, or nullptr for a code outside the table.
constexpr const DeviceTypeInfo* findDeviceType(std::uint8_t code) {
    for (const DeviceTypeInfo& info : kDeviceTypes) {
        if (info.code == code) {
            return &info;
        }
    }
    return nullptr;
}

/// Time tag of an item as held in the tables (CP56Time2a bytes, taken whole).
/// `month` 0 means "no time tag"; an item without one is held all zero.
struct TTimeTag {
    std::uint8_t year = 0;
    std::uint8_t month = 0;
    std::uint8_t day = 0;
    std::uint8_t hour = 0;
    std::uint8_t minute = 0;
    std::uint8_t spare = 0;
    std::uint16_t msec = 0;  ///< milliseconds within the minute (seconds * 1000 + ms)

    friend bool operator==(const TTimeTag&, const TTimeTag&) = default;
};

/// A local date and time of day with milliseconds: when a datagram or item was processed.
struct LocalDateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int msec = 0;

    friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

/// A decoded TS item, and in the same shape a TS table entry.
struct TTs {
    bool valid = false;        ///< table entries only: written at least once
    std::uint16_t number = 0;  ///< point number of a decoded item
    std::uint8_t flags = 0;
    TTimeTag timeTag;
    std::uint32_t timeout = 0;  ///< seconds since the latest item, raised by each refresh
    std::string macAddr;        ///< device that sent the latest item
    LocalDateTime lastReceived;
};

/// A decoded TI item, and in the same shape a TI table entry.
struct TTi {
    bool valid = false;
    std::uint16_t number = 0;
    std::uint8_t flags = 0;
    float value = 0.0F;
    TTimeTag timeTag;
    std::uint32_t timeout = 0;
    std::string macAddr;
    LocalDateTime lastReceived;
};

using PayloadArea = std::array<std::uint8_t, kPayloadAreaSize>;

/// One decoded bus datagram, owned by the reception pipeline while it is processed.
struct TPacket {
    std::uint8_t seq = 0;  ///< sequence number; 0 for class-only types
    bool sequenced = false;
    std::uint8_t deviceType = 0;
    std::string macAddr;  ///< "FA:CE:TT:AA:BB:CC", upper case
    std::uint8_t msgClass = 0;
    std::uint8_t subtype = 0;  ///< 0 for class-only types
    PayloadArea payload{};     ///< datagram bytes 9..n-1, zero beyond them
    std::string hexDump;       ///< "FA CE 01 ... " two upper-case digits and a blank per byte
};

}  // namespace qvlink
