// Fuzz target: capture files as the monitor's replay and qvlink-dump -r read them. The input is
// the whole file (pcap or pcapng); it is loaded as a bus capture. Whatever it holds, every
// datagram kept must lie inside the bytes loaded, their times must never step back, and an
// input that is no capture must end in the reader's error, never anything else.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "capture_file/bus_capture.h"
#include "capture_file/capture_file_reader.h"
#include "fuzz_check.h"

namespace qvlink {
namespace {

constexpr std::uint16_t kBusPort = 973;
constexpr std::size_t kMaxDatagramSize = 240;  // the bus's longest datagram

/// The input as a file libpcap can open, without touching the disk.
class MemoryFile {
public:
    MemoryFile(const std::uint8_t* data, std::size_t size)
        : m_fd(memfd_create("capture", MFD_CLOEXEC)) {
        QVLINK_FUZZ_CHECK(m_fd >= 0);
        for (std::size_t written = 0; written < size;) {
            const ssize_t n = write(m_fd, data + written, size - written);
            QVLINK_FUZZ_CHECK(n > 0);
            written += static_cast<std::size_t>(n);
        }
    }
    ~MemoryFile() { close(m_fd); }
    std::string path() const { return "/proc/self/fd/" + std::to_string(m_fd); }

private:
    int m_fd;
};

void checkCapture(const capture::BusCapture& capture) {
    std::int64_t lastUs = INT64_MIN;
    for (const capture::CapturedDatagram& datagram : capture.datagrams) {
        QVLINK_FUZZ_CHECK(std::size_t{datagram.offset} + datagram.size <= capture.bytes.size());
        // Only a datagram too long for the bus may be cut short.
        QVLINK_FUZZ_CHECK(datagram.length == datagram.size ||
                          (datagram.length > kMaxDatagramSize && datagram.size < datagram.length));
        QVLINK_FUZZ_CHECK(datagram.timeUs >= lastUs);
        lastUs = datagram.timeUs;
    }
}

}  // namespace
}  // namespace qvlink

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const qvlink::MemoryFile file(data, size);
    try {
        qvlink::checkCapture(qvlink::capture::loadBusCapture({file.path()}, qvlink::kBusPort,
                                                             qvlink::kMaxDatagramSize));
    } catch (const qvlink::capture::CaptureFileError&) {
        // no capture, or one of a link type the decoder does not know: refused with a message
    }
    return 0;
}
