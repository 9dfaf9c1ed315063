#include "mqtt/mqtt_endpoint.h"

namespace qvlink {
namespace {

constexpr const char* kInsecureWarning =
    "WARNING: --mqtt-insecure: the broker's TLS certificate is NOT verified; anyone between "
    "here and the broker can read and alter the link";

constexpr const char* kPlainPasswordWarning =
    "WARNING: the MQTT account travels unencrypted over mqtt://; use mqtts:// beyond a trusted "
    "network";

std::variant<MqttCredentials, std::string> credentialsFrom(const MqttOptionValues& values,
                                                           const EnvironmentLookup& lookup) {
    if (!values.credentialsFile.empty()) {
        return readMqttCredentialsFile(values.credentialsFile);
    }
    return mqttCredentialsFromEnvironment(lookup);
}

}  // namespace

std::variant<ResolvedMqttEndpoint, std::string> resolveMqttEndpoint(
    const MqttOptionValues& values, const EnvironmentLookup& lookup) {
    auto url = parseMqttUrl(values.url);
    if (auto* error = std::get_if<std::string>(&url)) {
        return *error;
    }
    ResolvedMqttEndpoint resolved;
    MqttEndpoint& endpoint = resolved.endpoint;
    endpoint.url = std::get<MqttUrl>(std::move(url));
    const bool tlsOption = values.insecure || !values.caFile.empty();
    if (tlsOption && !endpoint.url.tls) {
        return std::string("--mqtt-ca and --mqtt-insecure need an mqtts:// URL");
    }
    if (values.insecure && !values.caFile.empty()) {
        return std::string("--mqtt-ca and --mqtt-insecure exclude each other");
    }
    if (!values.caFile.empty()) {
        endpoint.tls.caFile = values.caFile;
    }
    endpoint.tls.verify = !values.insecure;
    if (values.insecure) {
        resolved.warnings.emplace_back(kInsecureWarning);
    }
    auto credentials = credentialsFrom(values, lookup);
    if (auto* error = std::get_if<std::string>(&credentials)) {
        return *error;
    }
    endpoint.credentials = std::get<MqttCredentials>(std::move(credentials));
    if (!endpoint.credentials.empty() && !endpoint.url.tls) {
        resolved.warnings.emplace_back(kPlainPasswordWarning);
    }
    return resolved;
}

}  // namespace qvlink
