#include "trend/trend_loader.h"

#include <algorithm>

namespace qvlink {

TrendLoader::TrendLoader(std::string historyPath, Delivery deliver)
    : m_path(std::move(historyPath)), m_deliver(std::move(deliver)), m_thread([this] { run(); }) {}

TrendLoader::~TrendLoader() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_pending.reset();
    }
    m_wake.notify_one();
    m_thread.join();
}

void TrendLoader::request(TrendRequest request) {
    {
        const std::lock_guard lock(m_mutex);
        m_pending = std::move(request);
    }
    m_wake.notify_one();
}

void TrendLoader::run() {
    HistoryReader reader(m_path);
    for (;;) {
        TrendRequest request;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || m_pending.has_value(); });
            if (m_stopping) {
                return;
            }
            request = std::move(*m_pending);
            m_pending.reset();
        }
        m_deliver(load(reader, request));
    }
}

TrendResult TrendLoader::load(HistoryReader& reader, const TrendRequest& request) const {
    TrendResult result;
    result.generation = request.generation;
    result.span = request.span;
    std::vector<std::string> distinctMacs;
    for (std::size_t i = 0; i < request.points.size(); ++i) {
        result.points.push_back(reader.readPoint(request.points[i], request.span, request.buckets));
        const std::string& known = i < request.knownMacs.size() ? request.knownMacs[i] : "";
        result.macs.push_back(known.empty() ? result.points.back().lastMac : known);
        if (!result.macs.back().empty() && std::find(distinctMacs.begin(), distinctMacs.end(),
                                                     result.macs.back()) == distinctMacs.end()) {
            distinctMacs.push_back(result.macs.back());
        }
    }
    result.events = reader.deviceEvents(distinctMacs, request.span);
    result.recordings = reader.recordingSpans(request.span);
    return result;
}

}  // namespace qvlink
