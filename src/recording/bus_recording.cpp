#include "recording/bus_recording.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

namespace qvlink {

std::string recordingFilePath(const std::string& folder, std::int64_t epochMicros) {
    const LocalDateTime time = localTimeOf(epochMicros);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", time.year % 10000,
                  time.month % 100, time.day % 100, time.hour % 100, time.minute % 100,
                  time.second % 100);
    const std::string stem = folder + "/qvlink-" + stamp;
    std::string path = stem + ".pcap";
    for (int copy = 2; access(path.c_str(), F_OK) == 0; ++copy) {
        path = stem + "-" + std::to_string(copy) + ".pcap";
    }
    return path;
}

BusRecording::BusRecording(BusRecorder::Notice notice, EpochClock clock)
    : m_notice(std::move(notice)), m_clock(std::move(clock)) {}

BusRecording::~BusRecording() = default;

void BusRecording::start() {
    if (m_current && !m_current->failed()) {
        return;
    }
    stop();
    m_current =
        std::make_unique<BusRecorder>(recordingFilePath(m_folder, m_clock()), m_rotation, m_notice);
}

void BusRecording::stop() {
    if (m_current) {
        m_current->stop();
        m_finishing.push_back(std::move(m_current));
    }
}

RecordingStatus BusRecording::status() {
    // Writers that finished go, but the last one stays while no recording replaced it: its
    // file and counts remain on show.
    const auto kept =
        m_current || m_finishing.empty() ? m_finishing.end() : std::prev(m_finishing.end());
    m_finishing.erase(std::remove_if(m_finishing.begin(), kept,
                                     [](const auto& recorder) { return recorder->finished(); }),
                      kept);
    const BusRecorder* shown = m_current             ? m_current.get()
                               : m_finishing.empty() ? nullptr
                                                     : m_finishing.back().get();
    RecordingStatus status;
    if (shown != nullptr) {
        status.recording = shown == m_current.get() && !shown->failed();
        status.failed = shown->failed();
        status.path = shown->path();
        status.written = shown->written();
        status.notRecorded = shown->notRecorded();
    }
    return status;
}

}  // namespace qvlink
