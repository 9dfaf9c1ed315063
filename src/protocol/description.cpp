#include "protocol/description.h"

#include <algorithm>
#include <string_view>

#include "common/cp1251.h"
#include "protocol/items.h"
#include "protocol/payload_reader.h"

namespace qvlink {
namespace {

/// " спорадика (<number> = <state or value>)": the first item of a sporadic report.
void appendSporadicItem(std::uint16_t number, const std::string& itemText, std::string& text) {
    text += " спорадика (";
    text += std::to_string(number);
    text += " = ";
    text += itemText;
    text += ')';
}

/// "ТИ" and, by subtype, " цикл" or the first item of a sporadic report.
void appendTiReport(const TPacket& packet, const FormatSettings& format, std::string& text) {
    text += "ТИ";
    if (packet.subtype == kSubtypeCyclic) {
        text += " цикл";
    } else if (packet.subtype == kSubtypeSporadic) {
        TTi item;
        parseTiItem(packet.payload, 0, item);
        appendSporadicItem(item.number, tiValueText(item.value, format), text);
    }
}

/// "ТС" and, by subtype, " цикл" or the first item of a sporadic report.
void appendTsReport(const TPacket& packet, std::string& text) {
    text += "ТС";
    if (packet.subtype == kSubtypeCyclic) {
        text += " цикл";
    } else if (packet.subtype == kSubtypeSporadic) {
        TTs item;
        parseTsItem(packet.payload, 0, item);
        appendSporadicItem(item.number, tsStateText(item.flags), text);
    }
}

/// The text of a text message: Windows-1251 bytes up to the first zero byte.
std::string messageText(const PayloadArea& payload) {
    const auto end = std::find(payload.begin(), payload.end(), std::uint8_t{0});
    const std::string_view bytes(reinterpret_cast<const char*>(payload.data()),
                                 static_cast<std::size_t>(end - payload.begin()));
    return decodeCp1251(bytes);
}

void appendTelemechanicsClass(const TPacket& packet, const FormatSettings& format,
                              std::string& text) {
    switch (packet.msgClass) {
        case kClassTi:
            appendTiReport(packet, format, text);
            break;
        case kClassTs:
            appendTsReport(packet, text);
            break;
        case kClassTu:
            text += "ТУ";
            break;
        case kClassTime:
            text += "Время";
            break;
        case kClassSilence:
            // The requested silence in milliseconds, unsigned 16-bit little-endian.
            text += "Запрос тишины ";
            text += std::to_string(PayloadReader(packet.payload).u16(0));
            text += " мс";
            break;
        case kClassText:
            text += ' ';
            text += messageText(packet.payload);
            break;
        default:
            break;
    }
}

void appendClassOnlyClass(const TPacket& packet, std::string& text) {
    switch (packet.msgClass) {
        case kClassOnlyTimeSetting:
            text += "Установка времени";
            break;
        case kClassOnlyTs:
            text += "ТС";
            break;
        case kClassOnlyTi:
            text += "ТИ";
            break;
        default:
            break;
    }
}

}  // namespace

std::string describePacket(const TPacket& packet, const FormatSettings& format) {
    std::string text;
    appendPacketDescription(packet, format, text);
    return text;
}

void appendPacketDescription(const TPacket& packet, const FormatSettings& format,
                             std::string& text) {
    // The display name of the type (none for a code outside the table), then ": ".
    const DeviceTypeInfo* type = findDeviceType(packet.deviceType);
    if (type != nullptr) {
        text += type->name;
    }
    text += ": ";
    if (type == nullptr) {
        return;
    }
    switch (type->family) {
        case DescriptionFamily::Telemechanics:
            appendTelemechanicsClass(packet, format, text);
            break;
        case DescriptionFamily::ClassOnly:
            appendClassOnlyClass(packet, text);
            break;
        case DescriptionFamily::NameOnly:
            break;
    }
}

}  // namespace qvlink
