#include "net/host_address.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>
#include <memory>

#include "net/ascii_text.h"
#include "net/socket_error.h"
#include "net/transport_error.h"

namespace qvlink {
namespace {

std::optional<unsigned> parseOctet(std::string_view part) {
    if (part.empty()) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : part) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 255) {
            return std::nullopt;
        }
    }
    return value;
}

in_addr lookUpByName(std::string_view host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const std::string name(host);
    const int status = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (status != 0) {
        throw TransportError(socketErrorMessage(resolverErrorCode(status, errno)));
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, &freeaddrinfo);
    return reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
}

}  // namespace

std::optional<in_addr> parseDottedQuad(std::string_view text) {
    std::uint32_t hostOrder = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = text.find('.');
        if ((part < 3) == (dot == std::string_view::npos)) {
            return std::nullopt;
        }
        const std::optional<unsigned> octet = parseOctet(text.substr(0, dot));
        if (!octet) {
            return std::nullopt;
        }
        hostOrder = (hostOrder << 8) | *octet;
        text = part < 3 ? text.substr(dot + 1) : std::string_view{};
    }
    in_addr address{};
    address.s_addr = htonl(hostOrder);
    return address;
}

in_addr resolveHost(std::string_view host) {
    if (equalsIgnoringCase(host, "LOCALHOST")) {
        in_addr loopback{};
        loopback.s_addr = htonl(INADDR_LOOPBACK);
        return loopback;
    }
    if (const std::optional<in_addr> quad = parseDottedQuad(host)) {
        return *quad;
    }
    return lookUpByName(host);
}

std::string addressText(in_addr address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

}  // namespace qvlink
