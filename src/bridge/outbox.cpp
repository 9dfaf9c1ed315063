#include "bridge/outbox.h"

#include <utility>

namespace qvlink::bridge {

namespace {

std::optional<Publication> takeFront(std::deque<Publication>& queue) {
    if (queue.empty()) {
        return std::nullopt;
    }
    Publication next = std::move(queue.front());
    queue.pop_front();
    return next;
}

}  // namespace

Outbox::Outbox(OutboxLimits limits) : m_limits(limits) {}

void Outbox::putRetained(const std::string& topic, std::string payload) {
    if (m_waitingRetained.insert_or_assign(topic, payload).second) {
        m_retainedOrder.push_back(topic);
    }
    m_latestRetained[topic] = std::move(payload);
}

void Outbox::putEvent(const std::string& topic, std::string payload) {
    if (m_events.size() >= m_limits.events) {
        ++m_drops.events;
        return;
    }
    m_events.push_back(Publication{topic, std::move(payload), 1, false});
}

void Outbox::putRaw(const std::string& topic, std::string batch, std::size_t records) {
    if (m_rawBytes + batch.size() > m_limits.rawBytes) {
        m_drops.rawRecords += records;
        return;
    }
    m_rawBytes += batch.size();
    m_raw.push_back(Publication{topic, std::move(batch), 0, false, records});
}

void Outbox::countRefused(const Publication& publication) {
    if (publication.records != 0) {
        m_drops.rawRecords += publication.records;
    } else if (!publication.retain) {
        ++m_drops.events;
    }
}

void Outbox::requeueRetained() {
    for (const auto& [topic, payload] : m_latestRetained) {
        if (m_waitingRetained.try_emplace(topic, payload).second) {
            m_retainedOrder.push_back(topic);
        }
    }
}

std::optional<Publication> Outbox::take() {
    for (int tried = 0; tried < 3; ++tried) {
        const unsigned kind = m_turn++ % 3;
        std::optional<Publication> next =
            kind == 0 ? takeRaw() : (kind == 1 ? takeEvent() : takeRetained());
        if (next) {
            return next;
        }
    }
    return std::nullopt;
}

std::optional<Publication> Outbox::takeRetained() {
    if (m_retainedOrder.empty()) {
        return std::nullopt;
    }
    const auto waiting = m_waitingRetained.find(m_retainedOrder.front());
    Publication next{waiting->first, std::move(waiting->second), 0, true};
    m_waitingRetained.erase(waiting);
    m_retainedOrder.pop_front();
    return next;
}

std::optional<Publication> Outbox::takeEvent() {
    return takeFront(m_events);
}

std::optional<Publication> Outbox::takeRaw() {
    std::optional<Publication> next = takeFront(m_raw);
    if (next) {
        m_rawBytes -= next->payload.size();
    }
    return next;
}

}  // namespace qvlink::bridge
