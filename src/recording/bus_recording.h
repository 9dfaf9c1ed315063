#pragma once

// The monitor's recording of the bus: started and stopped at will, one file (ring) per
// start, named for the moment it began. Lives on the thread that receives.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "capture_file/file_ring.h"
#include "capture_file/udp_frame.h"
#include "common/clock.h"
#include "recording/bus_recorder.h"

namespace qvlink {

/// What the recording shows: the file of the current or last recording and its counts.
struct RecordingStatus {
    bool recording = false;
    bool failed = false;  ///< the last recording ended on a write failure
    std::string path;     ///< empty before the first start
    std::uint64_t written = 0;
    std::uint64_t notRecorded = 0;
};

/// "qvlink-YYYYMMDD-HHMMSS.pcap" in `folder` for the local time of `epochMicros`, with
/// "-2", "-3"... before the extension when such a file exists already.
std::string recordingFilePath(const std::string& folder, std::int64_t epochMicros);

class BusRecording {
public:
    explicit BusRecording(BusRecorder::Notice notice, EpochClock clock = systemEpochMicros);
    /// Writes out what the recordings queued and closes their files.
    ~BusRecording();
    BusRecording(const BusRecording&) = delete;
    BusRecording& operator=(const BusRecording&) = delete;

    /// Rotation of the files of every recording started from now on.
    void setRotation(RotationLimits limits) { m_rotation = limits; }
    /// Folder of the recordings started from now on.
    void setFolder(std::string folder) { m_folder = std::move(folder); }
    const std::string& folder() const { return m_folder; }

    /// Starts a new file in the folder unless a recording is under way.
    void start();
    /// Ends the recording; its writer finishes on its own thread.
    void stop();

    /// Hands one received datagram to the recording, if one is under way.
    void record(std::int64_t epochMicros, const DatagramEndpoints& endpoints,
                std::span<const std::uint8_t> kept, std::size_t length) {
        if (m_current) {
            m_current->record(epochMicros, endpoints, kept, length);
        }
    }

    /// The current or last recording; also lets go of older writers that have finished.
    RecordingStatus status();

private:
    BusRecorder::Notice m_notice;
    EpochClock m_clock;
    RotationLimits m_rotation;
    std::string m_folder;
    std::unique_ptr<BusRecorder> m_current;
    /// Stopped recorders whose writers may still be writing out their queue.
    std::vector<std::unique_ptr<BusRecorder>> m_finishing;
};

}  // namespace qvlink
