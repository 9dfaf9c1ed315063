#pragma once

#include <string>
#include <variant>
#include <vector>

#include "mqtt/mqtt_credentials.h"
#include "mqtt/mqtt_url.h"

namespace qvlink {

/// The certificate authorities a TLS link verifies the broker against unless told otherwise.
inline constexpr const char* kSystemCaFile = "/etc/ssl/certs/ca-certificates.crt";

/// How a TLS link checks the broker (unused for mqtt://).
struct MqttTls {
    std::string caFile = kSystemCaFile;
    bool verify = true;  ///< false only on --mqtt-insecure
};

/// Everything needed to reach a broker: address, account, TLS.
struct MqttEndpoint {
    MqttUrl url;
    MqttCredentials credentials;
    MqttTls tls;
};

/// The broker options as a program's command line gives them, shared by every tool that
/// talks to a broker: --mqtt/--source URL, --mqtt-credentials FILE, --mqtt-ca FILE,
/// --mqtt-insecure.
struct MqttOptionValues {
    std::string url;
    std::string credentialsFile;  ///< empty: the account comes from the environment, if any
    std::string caFile;           ///< empty: kSystemCaFile
    bool insecure = false;
};

/// An endpoint with the warnings the user must see (on stderr or in the event log).
struct ResolvedMqttEndpoint {
    MqttEndpoint endpoint;
    std::vector<std::string> warnings;
};

/// Checks and combines the options: the URL, the account from the file or else the
/// environment, the TLS settings. TLS options without an mqtts:// URL are refused, and so is
/// --mqtt-insecure with --mqtt-ca; the error text never holds a password.
std::variant<ResolvedMqttEndpoint, std::string> resolveMqttEndpoint(
    const MqttOptionValues& values, const EnvironmentLookup& lookup);

}  // namespace qvlink
