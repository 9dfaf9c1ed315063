#include "mqtt/mqtt_url.h"

#include <charconv>

namespace qvlink {
namespace {

constexpr std::string_view kPlainScheme = "mqtt://";
constexpr std::string_view kTlsScheme = "mqtts://";

/// The port text as 1..65535; nothing for anything else.
bool parsePort(std::string_view text, std::uint16_t& port) {
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, value);
    if (failure != std::errc() || stop != end || value == 0 || value > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

/// Why `prefix` cannot name topics, or empty when it can.
std::string prefixError(std::string_view prefix) {
    if (prefix.empty()) {
        return "needs a topic prefix after the host, e.g. mqtt://broker:1883/qvlink/site-7";
    }
    if (prefix.find_first_of("+#") != std::string_view::npos) {
        return "the topic prefix must not hold the wildcards '+' or '#'";
    }
    if (prefix.find("//") != std::string_view::npos || prefix.front() == '/' ||
        prefix.back() == '/') {
        return "the topic prefix must not hold empty levels";
    }
    if (prefix.find('\0') != std::string_view::npos) {
        return "the topic prefix must not hold a zero byte";
    }
    return {};
}

}  // namespace

std::string MqttUrl::topic(std::string_view leaf) const {
    std::string topic = prefix;
    topic += '/';
    topic += leaf;
    return topic;
}

std::string MqttUrl::text() const {
    std::string text(tls ? kTlsScheme : kPlainScheme);
    const bool literalIpv6 = host.find(':') != std::string::npos;
    text += literalIpv6 ? "[" + host + "]" : host;
    text += ':' + std::to_string(port) + '/' + prefix;
    return text;
}

std::variant<MqttUrl, std::string> parseMqttUrl(std::string_view text) {
    MqttUrl url;
    if (text.starts_with(kTlsScheme)) {
        url.tls = true;
        url.port = kMqttTlsPort;
        text.remove_prefix(kTlsScheme.size());
    } else if (text.starts_with(kPlainScheme)) {
        text.remove_prefix(kPlainScheme.size());
    } else {
        return std::string("the broker URL must begin with mqtt:// or mqtts://");
    }
    const std::size_t slash = text.find('/');
    std::string_view authority = text.substr(0, slash);
    const std::string_view prefix =
        slash == std::string_view::npos ? std::string_view{} : text.substr(slash + 1);
    if (authority.find('@') != std::string_view::npos) {
        return std::string(
            "the broker URL must not hold a user or password; use --mqtt-credentials or "
            "QVLINK_MQTT_USER and QVLINK_MQTT_PASSWORD");
    }
    std::string_view portText;
    if (authority.starts_with('[')) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return std::string("the broker URL has an unclosed '[' in its host");
        }
        url.host = authority.substr(1, close - 1);
        authority.remove_prefix(close + 1);
        if (!authority.empty() && !authority.starts_with(':')) {
            return std::string("the broker URL has text after its host's ']'");
        }
        portText = authority.empty() ? std::string_view{} : authority.substr(1);
    } else {
        const std::size_t colon = authority.find(':');
        url.host = authority.substr(0, colon);
        if (colon != std::string_view::npos) {
            portText = authority.substr(colon + 1);
        }
    }
    if (url.host.empty()) {
        return std::string("the broker URL names no host");
    }
    const bool portGiven = authority.find(':') != std::string_view::npos;
    if (portGiven && !parsePort(portText, url.port)) {
        return "the broker port must be a number from 1 to 65535, not \"" + std::string(portText) +
               "\"";
    }
    if (std::string error = prefixError(prefix); !error.empty()) {
        return error;
    }
    url.prefix = prefix;
    return url;
}

}  // namespace qvlink
