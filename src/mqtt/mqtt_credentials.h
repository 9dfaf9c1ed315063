#pragma once

#include <functional>
#include <string>
#include <variant>

namespace qvlink {

/// A broker account. Only the link hands it to the broker; nothing else prints or stores it.
struct MqttCredentials {
    std::string user;  ///< empty: connect without an account
    std::string password;

    bool empty() const { return user.empty(); }
};

/// Environment variables that carry an account when no file is given.
inline constexpr const char* kMqttUserVariable = "QVLINK_MQTT_USER";
inline constexpr const char* kMqttPasswordVariable = "QVLINK_MQTT_PASSWORD";

/// Reads an environment variable; nullptr when it is not set. The program passes std::getenv.
using EnvironmentLookup = std::function<const char*(const char*)>;

/// The account in a file: the user on the first line, the password on the second (a final
/// line end and a carriage return before it are not part of them). A file that users other
/// than its owner and group may read is refused, as is one without a user line; the error
/// text names the file, never its content.
std::variant<MqttCredentials, std::string> readMqttCredentialsFile(const std::string& path);

/// The account in QVLINK_MQTT_USER and QVLINK_MQTT_PASSWORD; empty when no user is set.
MqttCredentials mqttCredentialsFromEnvironment(const EnvironmentLookup& lookup);

}  // namespace qvlink
