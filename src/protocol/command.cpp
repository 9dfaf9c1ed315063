#include "protocol/command.h"

#include <algorithm>
#include <string>

#include "common/cp1251.h"

namespace qvlink {
namespace {

/// Header bytes 2 to 5 of a command: zero where a device sends its type and address.
constexpr std::size_t kCommandHeaderZeros = 4;
/// Zero bytes after the body: a 2-byte and a 4-byte group.
constexpr std::size_t kCommandTrailerZeros = 6;

static_assert(kPayloadOffset + kCommandTrailerZeros == kCommandOverhead);

/// Largest body that keeps a command within one bus datagram.
constexpr std::size_t kMaxCommandBody = kMaxDatagramSize - kCommandOverhead;

}  // namespace

bool CommandFramer::buildPacket(std::uint8_t msgClass, std::uint8_t subtype,
                                const std::uint8_t* body, std::size_t bodyLength, DatagramArea& out,
                                std::size_t& length) {
    if (bodyLength > kMaxCommandBody) {
        return false;
    }
    auto at = out.begin();
    *at++ = kMagic0;
    *at++ = kMagic1;
    at = std::fill_n(at, kCommandHeaderZeros, std::uint8_t{0});
    *at++ = m_sequence;
    *at++ = msgClass;
    *at++ = subtype;
    at = std::copy_n(body, bodyLength, at);
    std::fill_n(at, kCommandTrailerZeros, std::uint8_t{0});
    length = bodyLength + kCommandOverhead;
    ++m_sequence;  // 255 wraps to 0
    return true;
}

bool CommandFramer::buildSetIpCommand(std::string_view macText, std::string_view ipText,
                                      DatagramArea& out, std::size_t& length) {
    std::string text(macText);
    text += ' ';
    text += ipText;
    std::string body = encodeCp1251(text);
    body.push_back('\0');
    return buildPacket(kClassText, kSubtypeSetIp,
                       reinterpret_cast<const std::uint8_t*>(body.data()), body.size(), out,
                       length);
}

}  // namespace qvlink
