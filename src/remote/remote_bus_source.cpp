#include "remote/remote_bus_source.h"

#include <sys/eventfd.h>

#include <algorithm>
#include <deque>
#include <limits>
#include <mutex>
#include <variant>
#include <vector>

#include "common/unique_fd.h"
#include "mqtt/mqtt_link.h"
#include "net/transport_error.h"

namespace qvlink {

namespace {

/// A change of the broker link, with the library's reason.
struct LinkChange {
    bool up;
    std::string reason;
};

using Message = std::vector<std::uint8_t>;
using Item = std::variant<Message, LinkChange>;

std::string linkText(const LinkChange& change) {
    return (change.up ? "Связь с брокером MQTT установлена (" : "Нет связи с брокером MQTT (") +
           change.reason + ")";
}

const char* faultCaption(RawMessageFault fault) {
    switch (fault) {
        case RawMessageFault::None:
            break;
        case RawMessageFault::Empty:
            return "пустое сообщение";
        case RawMessageFault::UnknownVersion:
            return "неизвестная версия записи";
        case RawMessageFault::TruncatedHeader:
            return "обрезан заголовок записи";
        case RawMessageFault::OversizeLength:
            return "длина датаграммы больше возможной";
        case RawMessageFault::TruncatedBody:
            return "обрезана датаграмма";
    }
    return "";
}

std::string faultText(RawMessageFault fault) {
    return std::string("Искажённое сообщение удалённой шины от брокера MQTT: ") +
           faultCaption(fault) + "; оно прочитано до искажения, следующие такие не выводятся";
}

}  // namespace

struct RemoteBusSource::Queue {
    explicit Queue(std::size_t maxBytes)
        : wakeUp(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), maxBytes(maxBytes) {
        if (!wakeUp) {
            throw TransportError("cannot create the hand-over of the remote bus");
        }
    }

    /// Called on the link's thread: queues `item` and wakes the dispatcher's thread when the
    /// queue was empty. A message beyond the bound is dropped and counted instead.
    void push(Item item) {
        std::lock_guard lock(mutex);
        if (const auto* message = std::get_if<Message>(&item)) {
            if (bytes + message->size() > maxBytes) {
                ++dropped;
                return;
            }
            bytes += message->size();
        }
        items.push_back(std::move(item));
        if (items.size() == 1) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto written = ::write(wakeUp.get(), &one, sizeof one);
        }
    }

    /// Called on the dispatcher's thread: everything queued so far.
    std::deque<Item> take() {
        std::uint64_t wakeUps = 0;
        [[maybe_unused]] const auto read = ::read(wakeUp.get(), &wakeUps, sizeof wakeUps);
        std::lock_guard lock(mutex);
        bytes = 0;
        return std::exchange(items, {});
    }

    UniqueFd wakeUp;
    const std::size_t maxBytes;
    mutable std::mutex mutex;  // guards the members below
    std::deque<Item> items;
    std::size_t bytes = 0;
    std::uint64_t dropped = 0;
};

RemoteBusSource::RemoteBusSource(const MqttEndpoint& endpoint, Dispatcher& dispatcher,
                                 Receive receive, Notice notice, std::size_t maxQueuedBytes)
    : m_rawTopic(endpoint.url.topic("raw")),
      m_receive(std::move(receive)),
      m_notice(std::move(notice)),
      m_queue(std::make_shared<Queue>(maxQueuedBytes)) {
    m_watch = dispatcher.watchReadable(m_queue->wakeUp.get(), [this] { drain(); });
    MqttLinkCallbacks callbacks;
    callbacks.onMessage = [queue = m_queue, topic = m_rawTopic](const MqttMessage& message) {
        if (message.topic == topic) {
            queue->push(Message(message.payload.begin(), message.payload.end()));
        }
    };
    callbacks.onConnection = [queue = m_queue](bool up, const std::string& reason) {
        queue->push(LinkChange{up, reason});
    };
    m_link = std::make_unique<MqttLink>(endpoint, MqttLinkSettings{}, std::move(callbacks));
}

RemoteBusSource::~RemoteBusSource() {
    m_link.reset();
    m_watch.reset();
}

void RemoteBusSource::start() {
    m_link->subscribe(m_rawTopic, 0);
    m_link->start();
}

void RemoteBusSource::drain() {
    for (const Item& item : m_queue->take()) {
        if (const auto* message = std::get_if<Message>(&item)) {
            handleMessage(*message);
        } else if (m_notice) {
            const auto& change = std::get<LinkChange>(item);
            m_notice(linkText(change), !change.up);
        }
    }
    const std::uint64_t dropped = droppedMessages();
    if (dropped > 0 && !m_overflowReported && m_notice) {
        m_overflowReported = true;
        m_notice(
            "Удалённая шина: сообщения от брокера MQTT приходят быстрее, чем их удаётся "
            "обработать; отброшено сообщений: " +
                std::to_string(dropped),
            true);
    }
}

void RemoteBusSource::handleMessage(std::span<const std::uint8_t> message) {
    const RawMessageSummary summary = readRawRecords(message, [this](const RawRecord& record) {
        // A stamp beyond the signed range (a hostile broker's) is read as the latest moment.
        constexpr auto kLatest =
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        RawRecord held = record;
        held.captureMicros = std::min(record.captureMicros, kLatest);
        m_receive(held);
    });
    if (summary.fault == RawMessageFault::None) {
        return;
    }
    if (m_faults[static_cast<std::size_t>(summary.fault)]++ == 0 && m_notice) {
        m_notice(faultText(summary.fault), true);
    }
}

std::uint64_t RemoteBusSource::faultyMessages(RawMessageFault fault) const {
    return m_faults[static_cast<std::size_t>(fault)];
}

std::uint64_t RemoteBusSource::droppedMessages() const {
    std::lock_guard lock(m_queue->mutex);
    return m_queue->dropped;
}

}  // namespace qvlink
