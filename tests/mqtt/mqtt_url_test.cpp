#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "mqtt/mqtt_endpoint.h"
#include "support/scratch_folder.h"

namespace qvlink {
namespace {

struct UrlRow {
    const char* name;
    const char* text;
    bool tls;
    const char* host;
    std::uint16_t port;
    const char* prefix;
};

void PrintTo(const UrlRow& row, std::ostream* out) {
    *out << row.name;
}

class MqttUrlValid : public testing::TestWithParam<UrlRow> {};

TEST_P(MqttUrlValid, SplitsIntoHostPortAndPrefix) {
    const UrlRow& row = GetParam();
    const auto parsed = parseMqttUrl(row.text);
    ASSERT_TRUE(std::holds_alternative<MqttUrl>(parsed)) << std::get<std::string>(parsed);
    const MqttUrl& url = std::get<MqttUrl>(parsed);
    EXPECT_EQ(url.tls, row.tls);
    EXPECT_EQ(url.host, row.host);
    EXPECT_EQ(url.port, row.port);
    EXPECT_EQ(url.prefix, row.prefix);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MqttUrlValid,
    testing::Values(
        UrlRow{"PlainWithPort", "mqtt://broker:1884/qvlink/site-7", false, "broker", 1884,
               "qvlink/site-7"},
        UrlRow{"PlainDefaultPort", "mqtt://broker/qvlink", false, "broker", 1883, "qvlink"},
        UrlRow{"TlsDefaultPort", "mqtts://broker.example/a/b/c", true, "broker.example", 8883,
               "a/b/c"},
        UrlRow{"TlsOtherPort", "mqtts://10.0.0.5:443/x", true, "10.0.0.5", 443, "x"},
        UrlRow{"HighestPort", "mqtt://h:65535/x", false, "h", 65535, "x"},
        UrlRow{"Ipv6Literal", "mqtt://[::1]:1999/x", false, "::1", 1999, "x"},
        UrlRow{"Ipv6LiteralDefaultPort", "mqtts://[fe80::1]/x", true, "fe80::1", 8883, "x"}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadUrlRow {
    const char* name;
    const char* text;
    const char* errorPart;  ///< a piece of the error text that names the fault
};

void PrintTo(const BadUrlRow& row, std::ostream* out) {
    *out << row.name;
}

class MqttUrlInvalid : public testing::TestWithParam<BadUrlRow> {};

TEST_P(MqttUrlInvalid, SaysWhatIsWrong) {
    const BadUrlRow& row = GetParam();
    const auto parsed = parseMqttUrl(row.text);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
    EXPECT_NE(std::get<std::string>(parsed).find(row.errorPart), std::string::npos)
        << std::get<std::string>(parsed);
}

INSTANTIATE_TEST_SUITE_P(Rows, MqttUrlInvalid,
                         testing::Values(BadUrlRow{"OtherScheme", "http://broker/x", "mqtt://"},
                                         BadUrlRow{"NoScheme", "broker:1883/x", "mqtt://"},
                                         BadUrlRow{"NoPrefix", "mqtt://broker:1883", "prefix"},
                                         BadUrlRow{"EmptyPrefix", "mqtt://broker:1883/", "prefix"},
                                         BadUrlRow{"NoHost", "mqtt://:1883/x", "host"},
                                         BadUrlRow{"PortZero", "mqtt://h:0/x", "port"},
                                         BadUrlRow{"PortTooHigh", "mqtt://h:65536/x", "port"},
                                         BadUrlRow{"PortNotNumber", "mqtt://h:abc/x", "port"},
                                         BadUrlRow{"PortEmpty", "mqtt://h:/x", "port"},
                                         BadUrlRow{"PlusWildcard", "mqtt://h/site/+/x", "wildcard"},
                                         BadUrlRow{"HashWildcard", "mqtt://h/site/#", "wildcard"},
                                         BadUrlRow{"EmptyLevel", "mqtt://h/a//b", "empty levels"},
                                         BadUrlRow{"TrailingSlash", "mqtt://h/a/", "empty levels"},
                                         BadUrlRow{"LeadingSlash", "mqtt://h//a", "empty levels"},
                                         BadUrlRow{"AccountInUrl", "mqtt://user:secret@h/x",
                                                   "--mqtt-credentials"},
                                         BadUrlRow{"UnclosedIpv6", "mqtt://[::1/x", "'['"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MqttUrl, TextNamesPortAndPrefixAndTopicsHangBelowThePrefix) {
    const auto url = std::get<MqttUrl>(parseMqttUrl("mqtts://broker/qvlink/site-7"));
    EXPECT_EQ(url.text(), "mqtts://broker:8883/qvlink/site-7");
    EXPECT_EQ(url.topic("raw"), "qvlink/site-7/raw");
    EXPECT_EQ(std::get<MqttUrl>(parseMqttUrl("mqtt://[::1]/x")).text(), "mqtt://[::1]:1883/x");
}

/// A scratch folder for account files, removed with them.
class MqttCredentialsFile : public testing::Test {
protected:
    std::string write(const std::string& text, mode_t mode = 0600) {
        const std::string path = m_folder + "/account";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        ::chmod(path.c_str(), mode);
        return path;
    }

    test::ScratchDirectory m_scratch;
    const std::string m_folder = m_scratch.path();
};

TEST_F(MqttCredentialsFile, ReadsUserAndPasswordLines) {
    struct Row {
        const char* text;
        const char* user;
        const char* password;
    };
    for (const Row& row : {Row{"alice\nse cret\n", "alice", "se cret"},
                           Row{"alice\r\nsecret\r\n", "alice", "secret"},
                           Row{"alice\nsecret", "alice", "secret"}, Row{"alice\n", "alice", ""},
                           Row{"alice\nsecret\nignored third line\n", "alice", "secret"}}) {
        const auto read = readMqttCredentialsFile(write(row.text, 0640));
        ASSERT_TRUE(std::holds_alternative<MqttCredentials>(read)) << row.text;
        EXPECT_EQ(std::get<MqttCredentials>(read).user, row.user);
        EXPECT_EQ(std::get<MqttCredentials>(read).password, row.password);
    }
}

TEST_F(MqttCredentialsFile, RefusesWithoutRevealingTheContent) {
    struct Row {
        const char* text;
        mode_t mode;
        const char* errorPart;
    };
    const std::string tooLong(5000, 'x');
    for (const Row& row :
         {Row{"alice\nsecret\n", 0644, "other users may read it"},
          Row{"\nsecret\n", 0600, "first line"}, Row{tooLong.c_str(), 0600, "too long"}}) {
        const auto read = readMqttCredentialsFile(write(row.text, row.mode));
        ASSERT_TRUE(std::holds_alternative<std::string>(read)) << row.errorPart;
        const std::string& error = std::get<std::string>(read);
        EXPECT_NE(error.find(row.errorPart), std::string::npos) << error;
        EXPECT_EQ(error.find("secret"), std::string::npos) << error;
    }
    const auto missing = readMqttCredentialsFile(m_folder + "/none");
    ASSERT_TRUE(std::holds_alternative<std::string>(missing));
    EXPECT_NE(std::get<std::string>(missing).find("No such file"), std::string::npos);
    EXPECT_TRUE(std::holds_alternative<std::string>(readMqttCredentialsFile(m_folder)));
}

/// An environment of fixed variables.
EnvironmentLookup environment(std::map<std::string, std::string> variables) {
    return [variables = std::move(variables)](const char* name) -> const char* {
        const auto found = variables.find(name);
        return found == variables.end() ? nullptr : found->second.c_str();
    };
}

TEST_F(MqttCredentialsFile, EndpointTakesTheFileBeforeTheEnvironment) {
    const auto env = environment({{kMqttUserVariable, "env-user"}, {kMqttPasswordVariable, "p"}});
    MqttOptionValues values;
    values.url = "mqtts://broker/x";
    auto fromEnv = std::get<ResolvedMqttEndpoint>(resolveMqttEndpoint(values, env));
    EXPECT_EQ(fromEnv.endpoint.credentials.user, "env-user");
    EXPECT_EQ(fromEnv.endpoint.credentials.password, "p");
    EXPECT_TRUE(fromEnv.warnings.empty());

    values.credentialsFile = write("file-user\nq\n");
    auto fromFile = std::get<ResolvedMqttEndpoint>(resolveMqttEndpoint(values, env));
    EXPECT_EQ(fromFile.endpoint.credentials.user, "file-user");
    EXPECT_EQ(fromFile.endpoint.credentials.password, "q");

    values.credentialsFile = write("file-user\nq\n", 0604);
    EXPECT_TRUE(std::holds_alternative<std::string>(resolveMqttEndpoint(values, env)));
}

TEST(MqttEndpoint, PasswordWithoutUserIsIgnoredAndNoUserMeansAnonymous) {
    MqttOptionValues values;
    values.url = "mqtt://broker/x";
    const auto resolved = std::get<ResolvedMqttEndpoint>(
        resolveMqttEndpoint(values, environment({{kMqttPasswordVariable, "p"}})));
    EXPECT_TRUE(resolved.endpoint.credentials.empty());
    EXPECT_TRUE(resolved.endpoint.credentials.password.empty());
    EXPECT_TRUE(resolved.warnings.empty());
}

TEST(MqttEndpoint, TlsOptionsAndTheirWarnings) {
    const auto none = environment({});
    const auto account = environment({{kMqttUserVariable, "u"}, {kMqttPasswordVariable, "p"}});
    struct Row {
        const char* name;
        MqttOptionValues values;
        const EnvironmentLookup& env;
        const char* errorPart;    ///< nullptr: accepted
        const char* warningPart;  ///< nullptr: no warning
        const char* caFile;
        bool verify;
    };
    const Row rows[] = {
        {"DefaultStore",
         {"mqtts://b/x", "", "", false},
         none,
         nullptr,
         nullptr,
         kSystemCaFile,
         true},
        {"OwnCa",
         {"mqtts://b/x", "", "/etc/ca.pem", false},
         none,
         nullptr,
         nullptr,
         "/etc/ca.pem",
         true},
        {"Insecure",
         {"mqtts://b/x", "", "", true},
         none,
         nullptr,
         "NOT verified",
         kSystemCaFile,
         false},
        {"PlainWithAccount",
         {"mqtt://b/x", "", "", false},
         account,
         nullptr,
         "unencrypted",
         kSystemCaFile,
         true},
        {"CaWithoutTls",
         {"mqtt://b/x", "", "/etc/ca.pem", false},
         none,
         "mqtts://",
         nullptr,
         "",
         true},
        {"InsecureWithoutTls", {"mqtt://b/x", "", "", true}, none, "mqtts://", nullptr, "", true},
        {"InsecureAndCa",
         {"mqtts://b/x", "", "/etc/ca.pem", true},
         none,
         "exclude",
         nullptr,
         "",
         true},
        {"BadUrl", {"mqtts://b", "", "", false}, none, "prefix", nullptr, "", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto resolved = resolveMqttEndpoint(row.values, row.env);
        if (row.errorPart != nullptr) {
            ASSERT_TRUE(std::holds_alternative<std::string>(resolved));
            EXPECT_NE(std::get<std::string>(resolved).find(row.errorPart), std::string::npos);
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<ResolvedMqttEndpoint>(resolved));
        const auto& endpoint = std::get<ResolvedMqttEndpoint>(resolved);
        EXPECT_EQ(endpoint.endpoint.tls.caFile, row.caFile);
        EXPECT_EQ(endpoint.endpoint.tls.verify, row.verify);
        if (row.warningPart == nullptr) {
            EXPECT_TRUE(endpoint.warnings.empty());
        } else {
            ASSERT_EQ(endpoint.warnings.size(), 1u);
            EXPECT_NE(endpoint.warnings[0].find(row.warningPart), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace qvlink
