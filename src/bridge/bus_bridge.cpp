#include "bridge/bus_bridge.h"

#include <utility>

#include "bridge/bus_mirror.h"
#include "common/clock.h"
#include "common/dotted_quad.h"
#include "mqtt/mqtt_link.h"
#include "mqtt/raw_records.h"

namespace qvlink::bridge {

namespace {

/// A raw batch this large goes out without waiting for its window to end.
constexpr std::size_t kRawBatchBytes = 256 * 1024;
/// The bridge's thread takes what the capture handed over this often, or sooner when
/// kWakeBatch datagrams wait: waking for each datagram cost more than the rest of its work.
constexpr std::chrono::milliseconds kBatchPoll{4};
constexpr std::size_t kWakeBatch = 4096;
/// How often it looks for the broker while the end of a capture waits for it.
constexpr std::chrono::milliseconds kFinishPoll{10};
/// Messages the link may hold unconfirmed; beyond them the backlog stays in the outbox,
/// where it is bounded and its drops are counted.
constexpr std::size_t kLinkWindow = 1000;
/// How long the last word, "offline", may take to reach the broker.
constexpr std::chrono::seconds kGoodbyePatience{2};

}  // namespace

BusBridge::BusBridge(BridgeSettings settings, std::function<void(const std::string&)> report)
    : m_settings(std::move(settings)),
      m_report(std::move(report)),
      m_outbox(m_settings.limits),
      m_mirror(std::make_unique<BusMirror>(
          m_outbox, MirrorSettings{m_settings.endpoint.url.prefix, m_settings.tiIntervalUs})) {
    MqttLinkSettings link;
    link.will = MqttWill{topic(kStatusLeaf), "offline", 1, true};
    MqttLinkCallbacks callbacks;
    callbacks.onConnection = [this](bool up, const std::string& reason) {
        if (up) {
            ++m_connections;
        }
        if (m_report) {
            m_report(reason);
        }
    };
    m_link = std::make_unique<MqttLink>(m_settings.endpoint, std::move(link), std::move(callbacks));
    m_outbox.putRetained(topic(kStatusLeaf), "online");
    m_link->start();
    m_thread = std::thread([this] { run(); });
}

BusBridge::~BusBridge() {
    if (m_thread.joinable()) {
        finish(std::chrono::milliseconds(0));
    }
}

void BusBridge::offer(std::int64_t timeUs, std::uint32_t senderIp, std::uint16_t senderPort,
                      const std::uint8_t* data, std::size_t size) {
    std::lock_guard lock(m_mutex);
    if (m_inbox.datagrams.size() >= m_settings.backlogLimit) {
        ++m_inbox.refused;
        return;
    }
    m_inbox.datagrams.push_back(Captured{timeUs, senderIp, senderPort,
                                         static_cast<std::uint32_t>(m_inbox.bytes.size()),
                                         static_cast<std::uint32_t>(size)});
    m_inbox.bytes.insert(m_inbox.bytes.end(), data, data + size);
    if (m_inbox.datagrams.size() == kWakeBatch) {
        m_wake.notify_one();
    }
}

bool BusBridge::finish(std::chrono::milliseconds patience) {
    {
        std::lock_guard lock(m_mutex);
        m_finishing = true;
        m_patienceEnd = std::chrono::steady_clock::now() + patience;
    }
    m_wake.notify_one();
    m_thread.join();
    m_link.reset();  // the goodbye: the broker keeps "offline", not the will
    return m_delivered;
}

BridgeCounters BusBridge::counters() const {
    std::lock_guard lock(m_mutex);
    return m_counters;
}

void BusBridge::run() {
    Inbox batch;
    for (;;) {
        bool finishing = false;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, kBatchPoll, [this] {
                return m_inbox.datagrams.size() >= kWakeBatch || m_finishing;
            });
            std::swap(batch, m_inbox);
            finishing = m_finishing;
        }
        handle(batch);
        if (m_settings.live) {
            m_mirror->advanceTo(systemEpochMicros());
        }
        if (finishing) {
            m_mirror->flush();
        }
        flushRaw(finishing);
        followConnection();
        deliver();
        publishCounters();
        if (finishing && finished()) {
            break;
        }
        if (finishing) {
            std::this_thread::sleep_for(kFinishPoll);
        }
    }
    if (m_link->connected() &&
        m_link->publish(topic(kStatusLeaf), std::string_view("offline"), 1, true)) {
        awaitLink();
    }
}

bool BusBridge::finished() {
    std::lock_guard lock(m_mutex);
    m_delivered = m_outbox.depth() == 0 && m_inbox.datagrams.empty() && m_link->unconfirmed() == 0;
    return m_delivered || std::chrono::steady_clock::now() >= m_patienceEnd;
}

void BusBridge::awaitLink() {
    const auto end = std::chrono::steady_clock::now() + kGoodbyePatience;
    while (m_link->connected() && m_link->unconfirmed() != 0 &&
           std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(kFinishPoll);
    }
}

void BusBridge::handle(Inbox& inbox) {
    for (const Captured& datagram : inbox.datagrams) {
        const std::uint8_t* bytes = inbox.bytes.data() + datagram.offset;
        m_mirror->add(datagram.timeUs, dottedQuadText(datagram.senderIp), bytes, datagram.size);
        if (m_settings.raw) {
            addRaw(datagram, bytes);
        }
    }
    m_outbox.countBacklogDrops(inbox.refused);
    inbox.datagrams.clear();
    inbox.bytes.clear();
    inbox.refused = 0;
}

void BusBridge::addRaw(const Captured& datagram, const std::uint8_t* bytes) {
    if (m_rawRecords == 0) {
        m_rawBatchStart = std::chrono::steady_clock::now();
    }
    const RawRecord record{static_cast<std::uint64_t>(datagram.timeUs),
                           datagram.senderIp,
                           datagram.senderPort,
                           {bytes, datagram.size}};
    if (appendRawRecord(m_rawBatch, record)) {
        ++m_rawRecords;
    }
    if (m_rawBatch.size() >= kRawBatchBytes) {
        flushRaw(true);
    }
}

void BusBridge::flushRaw(bool now) {
    if (m_rawRecords == 0 ||
        (!now && std::chrono::steady_clock::now() - m_rawBatchStart + kBatchPoll <
                     m_settings.rawBatchWindow)) {
        return;
    }
    m_outbox.putRaw(topic(kRawLeaf), std::string(m_rawBatch.begin(), m_rawBatch.end()),
                    m_rawRecords);
    m_rawBatch.clear();
    m_rawRecords = 0;
}

// Each time the broker accepts the link, it hears the drop counts; after the first time it
// also gets the whole retained state again, in case it lost it while the link was down.
void BusBridge::followConnection() {
    const std::uint64_t connections = m_connections.load();
    if (connections == m_connectionsSeen) {
        return;
    }
    if (m_connectionsSeen != 0) {
        m_outbox.requeueRetained();
    }
    m_connectionsSeen = connections;
    m_outbox.putRetained(topic(kDropsLeaf), dropsJson(m_outbox.drops()));
}

void BusBridge::deliver() {
    while (m_link->connected() && m_link->unconfirmed() < kLinkWindow) {
        std::optional<Publication> next = m_outbox.take();
        if (!next) {
            return;
        }
        if (m_link->publish(next->topic, std::string_view(next->payload), next->qos,
                            next->retain)) {
            ++m_published;
        } else {
            m_outbox.countRefused(*next);
        }
    }
}

void BusBridge::publishCounters() {
    std::lock_guard lock(m_mutex);
    m_counters.published = m_published;
    m_counters.queueDepth = m_outbox.depth() + m_inbox.datagrams.size() + m_link->unconfirmed();
    m_counters.drops = m_outbox.drops();
    m_counters.drops.backlog += m_inbox.refused;
}

std::string BusBridge::topic(const char* leaf) const {
    return m_settings.endpoint.url.topic(leaf);
}

}  // namespace qvlink::bridge
