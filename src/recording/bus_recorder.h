#pragma once

// One recording of the bus into a pcap file (rotated as a ring), written by a thread of its
// own: the thread that receives only queues.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "capture_file/file_ring.h"
#include "capture_file/udp_frame.h"

namespace qvlink {

class PcapWriter;

class BusRecorder {
public:
    /// Text for the event log, and whether it needs the user's attention; called on the
    /// writer's thread.
    using Notice = std::function<void(const std::string& text, bool needsAttention)>;

    /// Datagrams that may wait for the writer; beyond them a datagram is counted as not
    /// recorded instead of waiting.
    static constexpr std::size_t kDefaultQueueDatagrams = 1 << 16;

    /// Starts the writer, which creates `path` (the newest file of a ring with `limits`). A
    /// file that cannot be created or written ends the recording with a notice.
    BusRecorder(std::string path, RotationLimits limits, Notice notice,
                std::size_t queueDatagrams = kDefaultQueueDatagrams);
    /// Stops, and waits until what was queued is written and the file closed.
    ~BusRecorder();
    BusRecorder(const BusRecorder&) = delete;
    BusRecorder& operator=(const BusRecorder&) = delete;

    /// Queues one datagram received at `epochMicros` of which `kept` bytes of `length` were
    /// received; never waits for the disk. Ignored once stopped or failed.
    void record(std::int64_t epochMicros, const DatagramEndpoints& endpoints,
                std::span<const std::uint8_t> kept, std::size_t length);
    /// Asks the writer to write what is queued and close the file; returns at once.
    void stop();

    /// The file being written: the newest of the ring.
    const std::string& path() const { return m_path; }
    std::uint64_t written() const { return m_written.load(std::memory_order_relaxed); }
    /// Datagrams that found the queue full.
    std::uint64_t notRecorded() const { return m_notRecorded.load(std::memory_order_relaxed); }
    /// True once a write failed; the recording then ended.
    bool failed() const { return m_failed.load(std::memory_order_acquire); }
    /// True once the writer has closed the file (after stop or a failure).
    bool finished() const { return m_finished.load(std::memory_order_acquire); }

private:
    struct Queued {
        std::int64_t epochMicros;
        DatagramEndpoints endpoints;
        std::size_t length;
        std::size_t offset;  ///< of the kept bytes in the batch's byte store
        std::size_t kept;
    };
    /// Datagrams handed over together: their records and their bytes, one after another.
    struct Batch {
        std::vector<Queued> datagrams;
        std::vector<std::uint8_t> bytes;
    };

    void run();
    void writeBatch(PcapWriter& writer, const Batch& batch);
    void fail(const std::string& reason);

    const std::string m_path;
    const RotationLimits m_limits;
    const Notice m_notice;
    const std::size_t m_capacity;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    Batch m_pending;          // guarded by m_mutex
    bool m_stopping = false;  // guarded by m_mutex

    std::atomic<std::uint64_t> m_written{0};
    std::atomic<std::uint64_t> m_notRecorded{0};
    std::atomic<bool> m_failed{false};
    std::atomic<bool> m_finished{false};
    std::vector<std::uint8_t> m_frame;  // the writer's, reused for every datagram
    std::thread m_thread;               // last: started when everything above is ready
};

}  // namespace qvlink
