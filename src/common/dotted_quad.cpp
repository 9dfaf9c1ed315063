#include "common/dotted_quad.h"

namespace qvlink {
namespace {

std::optional<std::uint32_t> parseOctet(std::string_view part) {
    if (part.empty()) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : part) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 255) {
            return std::nullopt;
        }
    }
    return value;
}

}  // namespace

std::optional<std::uint32_t> parseDottedQuad(std::string_view text) {
    std::uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = text.find('.');
        if ((part < 3) == (dot == std::string_view::npos)) {
            return std::nullopt;
        }
        const std::optional<std::uint32_t> octet = parseOctet(text.substr(0, dot));
        if (!octet) {
            return std::nullopt;
        }
        address = (address << 8) | *octet;
        text = part < 3 ? text.substr(dot + 1) : std::string_view{};
    }
    return address;
}

std::string dottedQuadText(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace qvlink
