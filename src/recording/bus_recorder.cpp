#include "recording/bus_recorder.h"

#include <pcap/pcap.h>

#include <utility>

#include "capture_file/pcap_writer.h"
#include "capture_file/write_error.h"

namespace qvlink {
namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
/// Snapshot length of the files: the longest frame a synthesized datagram can make.
constexpr int kSnapLength = 65535;

}  // namespace

BusRecorder::BusRecorder(std::string path, RotationLimits limits, Notice notice,
                         std::size_t queueDatagrams)
    : m_path(std::move(path)),
      m_limits(limits),
      m_notice(std::move(notice)),
      m_capacity(queueDatagrams),
      m_thread([this] { run(); }) {}

BusRecorder::~BusRecorder() {
    stop();
    m_thread.join();
}

void BusRecorder::record(std::int64_t epochMicros, const DatagramEndpoints& endpoints,
                         std::span<const std::uint8_t> kept, std::size_t length) {
    bool wasEmpty = false;
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping || failed()) {
            return;
        }
        if (m_pending.datagrams.size() >= m_capacity) {
            m_notRecorded.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        wasEmpty = m_pending.datagrams.empty();
        m_pending.datagrams.push_back(
            {epochMicros, endpoints, length, m_pending.bytes.size(), kept.size()});
        m_pending.bytes.insert(m_pending.bytes.end(), kept.begin(), kept.end());
    }
    if (wasEmpty) {
        m_wake.notify_one();
    }
}

void BusRecorder::stop() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
}

// Takes whatever is queued, writes it outside the lock and flushes, so that the file on disk
// is never more than one batch behind; ends when stopped and everything is written.
void BusRecorder::run() {
    std::unique_ptr<PcapWriter> writer;
    Batch batch;
    try {
        writer = std::make_unique<PcapWriter>(DLT_EN10MB, kSnapLength, m_path, m_limits);
        for (;;) {
            bool stopping = false;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_pending.datagrams.empty(); });
                std::swap(batch, m_pending);
                stopping = m_stopping;
            }
            writeBatch(*writer, batch);
            writer->flush();
            batch.datagrams.clear();
            batch.bytes.clear();
            if (stopping) {
                break;
            }
        }
        writer->close();
    } catch (const WriteError& error) {
        fail(error.what());
    }
    m_finished.store(true, std::memory_order_release);
}

void BusRecorder::writeBatch(PcapWriter& writer, const Batch& batch) {
    for (const Queued& datagram : batch.datagrams) {
        const std::size_t wireLength = synthesizeUdpFrame(
            datagram.endpoints, std::span(batch.bytes).subspan(datagram.offset, datagram.kept),
            datagram.length, m_frame);
        pcap_pkthdr header{};
        header.ts.tv_sec = static_cast<time_t>(datagram.epochMicros / kMicrosPerSecond);
        header.ts.tv_usec = static_cast<suseconds_t>(datagram.epochMicros % kMicrosPerSecond);
        header.caplen = static_cast<bpf_u_int32>(m_frame.size());
        header.len = static_cast<bpf_u_int32>(wireLength);
        writer.write(header, m_frame.data());
        m_written.fetch_add(1, std::memory_order_relaxed);
    }
}

void BusRecorder::fail(const std::string& reason) {
    {
        const std::lock_guard lock(m_mutex);
        m_failed.store(true, std::memory_order_release);
        m_pending = {};
    }
    if (m_notice) {
        m_notice("Запись шины остановлена: " + reason, true);
    }
}

}  // namespace qvlink
