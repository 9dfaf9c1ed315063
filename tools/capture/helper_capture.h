#pragma once

// Live capture through the capture helper, the one program that may hold the capture right:
// it runs as a child process, and its pcap stream arrives through a pipe. The programs that
// start it hold no capability themselves.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture/capture_filter.h"
#include "capture/pcap_stream.h"

namespace qvlink::capture {

/// A live capture that could not be started or failed; the message names the cure.
class CaptureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Where the capture helper is installed relative to the running program (the folder of the
/// programs, in the build tree as once installed).
std::string captureHelperPath();

class HelperCapture {
public:
    /// Starts `helper` capturing on `interface` with `filter` for `port`. Throws CaptureError
    /// when it cannot be started (missing, or not executable by this user).
    HelperCapture(const std::string& helper, const std::string& interface, std::uint16_t port,
                  CaptureFilter filter);
    /// Stops a helper that still runs and reaps it.
    ~HelperCapture();
    HelperCapture(const HelperCapture&) = delete;
    HelperCapture& operator=(const HelperCapture&) = delete;

    /// Waits until the helper has opened the capture: true then, false when stop() ended it
    /// first. Throws CaptureError with the helper's message when it could not capture.
    bool awaitStart();
    /// libpcap's DLT_ value of the frames, once started.
    int linkType() const { return m_stream.linkType(); }
    std::uint32_t snapshotLength() const { return m_stream.snapshotLength(); }

    /// The pipe the frames arrive on, for poll().
    int fd() const { return m_outFd; }
    /// Makes read() return at once when nothing is waiting.
    void setNonBlocking();
    /// Reads what the pipe holds (waiting for it unless non-blocking) and hands every whole
    /// frame to `handler`. False once the stream has ended: then the helper has been reaped
    /// and fd() is -1. Throws CaptureError when the helper failed (unless stop() asked it to
    /// end) or its stream is unreadable; exceptions of the handler pass through.
    bool read(const FrameHandler& handler);
    /// Asks the helper to end its capture; the stream then ends. Safe in a signal handler.
    void stop() noexcept;
    /// Frames the kernel dropped because the helper fell behind, as the helper said once its
    /// stream had ended (0 before).
    std::uint64_t kernelDrops() const { return m_kernelDrops; }

private:
    /// Forgets a helper that did not start (or is reaped already) and closes the pipes.
    void abandon();
    void finish();
    std::string helperMessage();

    std::string m_helper;
    pid_t m_pid = -1;
    int m_pidFd = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    std::atomic<bool> m_stopRequested{false};
    PcapStream m_stream;
    std::vector<std::uint8_t> m_buffer;
    std::uint64_t m_kernelDrops = 0;
};

}  // namespace qvlink::capture
