#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace qvlink {

/// Default broker ports: plain and with TLS.
inline constexpr std::uint16_t kMqttPort = 1883;
inline constexpr std::uint16_t kMqttTlsPort = 8883;

/// Where a bus is published: `mqtt://host[:port]/prefix/with/levels` or `mqtts://...` (TLS).
struct MqttUrl {
    bool tls = false;
    std::string host;
    std::uint16_t port = kMqttPort;
    /// Topic levels below which the bus lives, without leading or trailing "/" ("qvlink/site-7").
    std::string prefix;

    /// `<prefix>/<leaf>`, the topic of one kind of data.
    std::string topic(std::string_view leaf) const;
    /// The URL with the port always written; it never holds credentials (there are none in it).
    std::string text() const;
};

/// Reads an MQTT URL; the error text says what is wrong (scheme, host, port, prefix, or a user
/// or password written into it, which must come from a file or the environment instead).
std::variant<MqttUrl, std::string> parseMqttUrl(std::string_view text);

}  // namespace qvlink
