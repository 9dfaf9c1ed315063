#include "mqtt/mqtt_link.h"

#include <gtest/gtest.h>

#include <thread>

#include "net/transport_error.h"
#include "process/child_process.h"
#include "support/mosquitto_broker.h"
#include "support/mqtt_link_probe.h"

namespace qvlink {
namespace {

using test::LinkProbe;
using test::MosquittoBroker;

MqttEndpoint endpointOf(const std::string& url, MqttCredentials credentials = {}) {
    MqttEndpoint endpoint;
    endpoint.url = std::get<MqttUrl>(parseMqttUrl(url));
    endpoint.credentials = std::move(credentials);
    return endpoint;
}

/// Quick retries, so that a test waits a second for a reconnect, not half a minute.
MqttLinkSettings quickRetries() {
    MqttLinkSettings settings;
    settings.reconnectMin = std::chrono::seconds(1);
    settings.reconnectMax = std::chrono::seconds(1);
    return settings;
}

const std::vector<std::uint8_t> kBinary{0x01, 0x00, 0xFF, 0x00, 0x7F};

/// Waits until the link holds no unconfirmed message; false after `timeout`.
bool settles(const MqttLink& link, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (link.unconfirmed() != 0 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return link.unconfirmed() == 0;
}

TEST(MqttLink, DeliversBinaryPayloadsAndRetainedState) {
    QVLINK_SKIP_WITHOUT_MOSQUITTO();
    MosquittoBroker broker;
    const MqttEndpoint endpoint = endpointOf(broker.url("qvlink/site-7"));

    LinkProbe publisherProbe;
    MqttLink publisher(endpoint, quickRetries(), publisherProbe.callbacks());
    publisher.start();
    ASSERT_TRUE(publisherProbe.waitForLink(true));
    EXPECT_TRUE(publisher.connected());
    ASSERT_TRUE(publisher.publish(endpoint.url.topic("status"), "online", 1, true));
    // Only a message the broker has stored reaches a later subscriber marked as retained.
    ASSERT_TRUE(settles(publisher));

    LinkProbe subscriberProbe;
    MqttLink subscriber(endpoint, quickRetries(), subscriberProbe.callbacks());
    subscriber.subscribe(endpoint.url.topic("#"), 1);
    subscriber.start();
    ASSERT_TRUE(subscriberProbe.waitForMessages(1));
    ASSERT_TRUE(publisher.publish(endpoint.url.topic("raw"), kBinary, 0, false));
    ASSERT_TRUE(subscriberProbe.waitForMessages(2));

    const auto messages = subscriberProbe.messages();
    EXPECT_EQ(messages[0].topic, "qvlink/site-7/status");
    EXPECT_EQ(std::string(messages[0].payload.begin(), messages[0].payload.end()), "online");
    EXPECT_TRUE(messages[0].retained);
    EXPECT_EQ(messages[1].topic, "qvlink/site-7/raw");
    EXPECT_EQ(messages[1].payload, kBinary);
    EXPECT_FALSE(messages[1].retained);
}

TEST(MqttLink, ReportsTheLossOnceAndResubscribesWhenTheBrokerReturns) {
    QVLINK_SKIP_WITHOUT_MOSQUITTO();
    MosquittoBroker broker;
    const MqttEndpoint endpoint = endpointOf(broker.url("site"));
    broker.kill();

    LinkProbe probe;
    MqttLink link(endpoint, quickRetries(), probe.callbacks());
    link.subscribe("site/raw", 0);
    link.start();  // nobody listens yet
    ASSERT_TRUE(probe.waitForLink(false));
    EXPECT_FALSE(link.connected());
    EXPECT_FALSE(link.publish("site/raw", kBinary, 0, false));
    EXPECT_NE(link.lastError().find("127.0.0.1:" + std::to_string(broker.port())),
              std::string::npos);

    broker.start();
    ASSERT_TRUE(probe.waitForLink(true));
    broker.kill();
    ASSERT_TRUE(probe.waitForLink(false));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a retry fails meanwhile
    broker.start();
    ASSERT_TRUE(probe.waitForLink(true));

    const auto connections = probe.connections();
    ASSERT_EQ(connections.size(), 4u) << "one report per change, not per attempt";
    EXPECT_NE(connections[2].reason.find("lost"), std::string::npos) << connections[2].reason;

    LinkProbe publisherProbe;
    MqttLink publisher(endpoint, quickRetries(), publisherProbe.callbacks());
    publisher.start();
    ASSERT_TRUE(publisherProbe.waitForLink(true));
    // The subscription is renewed asynchronously; publish until it has taken effect.
    for (int attempt = 0; attempt < 50 && probe.messages().empty(); ++attempt) {
        publisher.publish("site/raw", kBinary, 0, false);
        probe.waitForMessages(1, std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(probe.messages().empty());
    EXPECT_EQ(probe.messages()[0].payload, kBinary);
}

TEST(MqttLink, AccountIsCheckedByTheBroker) {
    QVLINK_SKIP_WITHOUT_MOSQUITTO();
    MosquittoBroker broker(std::vector<MosquittoBroker::Account>{{"bridge", "s3cret pass"}});
    const std::string url = broker.url("x");

    LinkProbe refusedProbe;
    MqttLink refused(endpointOf(url, {"bridge", "wrong"}), quickRetries(),
                     refusedProbe.callbacks());
    refused.start();
    ASSERT_TRUE(refusedProbe.waitForLink(false));
    EXPECT_NE(refusedProbe.connections().back().reason.find("refused"), std::string::npos)
        << refusedProbe.connections().back().reason;
    EXPECT_EQ(refusedProbe.connections().back().reason.find("wrong"), std::string::npos);

    LinkProbe acceptedProbe;
    MqttLink accepted(endpointOf(url, {"bridge", "s3cret pass"}), quickRetries(),
                      acceptedProbe.callbacks());
    accepted.start();
    EXPECT_TRUE(acceptedProbe.waitForLink(true));
}

TEST(MqttLink, WillIsPublishedWhenTheLinkDiesWithoutGoodbyeOnly) {
    QVLINK_SKIP_WITHOUT_MOSQUITTO();
    MosquittoBroker broker;
    const MqttEndpoint endpoint = endpointOf(broker.url("w"));
    LinkProbe watcherProbe;
    MqttLink watcher(endpoint, quickRetries(), watcherProbe.callbacks());
    watcher.subscribe("w/status", 1);
    watcher.start();
    ASSERT_TRUE(watcherProbe.waitForLink(true));

    MqttLinkSettings settings = quickRetries();
    settings.will = MqttWill{"w/status", "offline", 1, true};
    {
        LinkProbe probe;
        MqttLink polite(endpoint, settings, probe.callbacks());
        polite.start();
        ASSERT_TRUE(probe.waitForLink(true));
        polite.publish("w/status", "online", 1, true);
        ASSERT_TRUE(watcherProbe.waitForMessages(1));
    }  // a goodbye: the will stays unsent
    // A process that dies keeps no goodbye: the broker publishes the will.
    const ProcessResult doomed =
        runProcess({QVLINK_WILL_CLIENT_PATH, endpoint.url.text(), "w/status"});
    ASSERT_EQ(doomed.exitCode, 0) << doomed.err;
    ASSERT_TRUE(watcherProbe.waitForMessages(2));
    const auto messages = watcherProbe.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(std::string(messages[1].payload.begin(), messages[1].payload.end()), "offline");
}

TEST(MqttLink, TlsLinkTrustsOnlyItsCaUnlessToldNotToVerify) {
    QVLINK_SKIP_WITHOUT_MOSQUITTO();
    MosquittoBroker broker({}, test::BrokerTls::On);
    struct Row {
        const char* name;
        std::string caFile;
        bool verify;
        bool connects;
    };
    const Row rows[] = {{"OwnCa", broker.caFile(), true, true},
                        {"OtherCa", broker.otherCaFile(), true, false},
                        {"OtherCaUnverified", broker.otherCaFile(), false, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MqttEndpoint endpoint = endpointOf(broker.url("t"));
        endpoint.tls.caFile = row.caFile;
        endpoint.tls.verify = row.verify;
        LinkProbe probe;
        MqttLink link(endpoint, quickRetries(), probe.callbacks());
        link.start();
        ASSERT_TRUE(probe.waitForLink(row.connects));
        EXPECT_EQ(link.connected(), row.connects);
    }
}

TEST(MqttLink, UnreadableCaFileIsRefusedAtOnce) {
    MqttEndpoint endpoint = endpointOf("mqtts://127.0.0.1:1/x");
    endpoint.tls.caFile = "/nonexistent/ca.pem";
    try {
        MqttLink link(endpoint, {}, {});
        FAIL() << "an unreadable CA file was accepted";
    } catch (const TransportError& error) {
        EXPECT_NE(std::string(error.what()).find("/nonexistent/ca.pem"), std::string::npos);
    }
}

TEST(MqttLink, UnconfirmedCountsWhatTheBrokerHasNotTakenYet) {
    QVLINK_SKIP_WITHOUT_MOSQUITTO();
    MosquittoBroker broker;
    const MqttEndpoint endpoint = endpointOf(broker.url("qvlink/site-7"));
    LinkProbe probe;
    MqttLink link(endpoint, quickRetries(), probe.callbacks());
    link.start();
    ASSERT_TRUE(probe.waitForLink(true));
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(link.publish(endpoint.url.topic("ti/1"), std::to_string(i), i % 2, true));
    }
    EXPECT_TRUE(settles(link));

    // While the broker is away the library takes nothing, and holds nothing back.
    broker.kill();
    ASSERT_TRUE(probe.waitForLink(false));
    EXPECT_FALSE(link.publish(endpoint.url.topic("raw"), kBinary, 0, false));
    EXPECT_FALSE(link.publish(endpoint.url.topic("event"), "e", 1, false));
    EXPECT_EQ(link.unconfirmed(), 0U);
    broker.start();
    ASSERT_TRUE(probe.waitForLink(true, std::chrono::seconds(10)));
    ASSERT_TRUE(link.publish(endpoint.url.topic("event"), "e", 1, false));
    EXPECT_TRUE(settles(link));
}

}  // namespace
}  // namespace qvlink
