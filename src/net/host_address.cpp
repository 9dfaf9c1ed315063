#include "net/host_address.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>
#include <memory>

#include "common/dotted_quad.h"
#include "net/ascii_text.h"
#include "net/socket_error.h"
#include "net/transport_error.h"

namespace qvlink {
namespace {

in_addr fromHostOrder(std::uint32_t address) {
    in_addr result{};
    result.s_addr = htonl(address);
    return result;
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

in_addr localBindAddress(std::string_view ip) {
    if (ip.empty()) {
        return fromHostOrder(INADDR_ANY);
    }
    const std::optional<std::uint32_t> address = parseDottedQuad(ip);
    if (!address) {
        throwSocketError(EADDRNOTAVAIL);
    }
    return fromHostOrder(*address);
}

in_addr resolveHost(std::string_view host) {
    if (equalsIgnoringCase(host, "LOCALHOST")) {
        return fromHostOrder(INADDR_LOOPBACK);
    }
    if (const std::optional<std::uint32_t> quad = parseDottedQuad(host)) {
        return fromHostOrder(*quad);
    }
    return lookUpByName(host);
}

std::string addressText(in_addr address) {
    return dottedQuadText(ntohl(address.s_addr));
}

}  // namespace qvlink
