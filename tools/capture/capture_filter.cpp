#include "capture/capture_filter.h"

#include <array>
#include <cstdio>

#include "common/bus_types.h"

namespace qvlink::capture {

std::string filterExpression(CaptureFilter filter, std::uint16_t port) {
    std::array<char, 128> text{};
    switch (filter) {
        case CaptureFilter::Bus:
            std::snprintf(text.data(), text.size(),
                          "ip and udp and (port %u or ip[6:2] & 0x1fff != 0)",
                          static_cast<unsigned>(port));
            break;
        case CaptureFilter::Commands:
            // udp[8] is the first payload byte: the magic, then the four zero bytes that stand
            // where a device puts its type and address.
            std::snprintf(text.data(), text.size(),
                          "udp dst port %u and udp[8:2] = 0x%02X%02X and udp[10:4] = 0",
                          static_cast<unsigned>(port), kMagic0, kMagic1);
            break;
    }
    return text.data();
}

const char* filterName(CaptureFilter filter) {
    return filter == CaptureFilter::Bus ? "bus" : "commands";
}

std::optional<CaptureFilter> filterFromName(const std::string& name) {
    for (const CaptureFilter filter : {CaptureFilter::Bus, CaptureFilter::Commands}) {
        if (name == filterName(filter)) {
            return filter;
        }
    }
    return std::nullopt;
}

}  // namespace qvlink::capture
