#pragma once

// The bus as captured: live on an interface, through the capture helper, or from a pcap or
// pcapng file.

#include <pcap/pcap.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "capture/helper_capture.h"
#include "capture_file/capture_file_reader.h"
#include "capture_file/frame_decoder.h"

namespace qvlink::dump {

class CaptureSource {
public:
    using FrameHandler = capture::FrameHandler;

    /// Starts the capture helper `helper` on `interface` ("any" for all). Throws DumpError
    /// when it cannot be started.
    static CaptureSource openLive(const std::string& helper, const std::string& interface,
                                  std::uint16_t port);
    /// Opens a pcap or pcapng file. Throws DumpError when it cannot be read.
    static CaptureSource openFile(const std::string& path);

    CaptureSource(CaptureSource&& other) noexcept;
    CaptureSource& operator=(CaptureSource&&) = delete;
    ~CaptureSource();

    /// Waits until frames can flow: true then, false when stop() came first. Throws DumpError
    /// with a message naming the cure (missing capture right, unknown interface, ...).
    bool awaitStart();

    /// Describes the frames (link type, snapshot length) to the pcap writer.
    pcap_t* handle() const { return m_file ? m_file->handle() : m_handle; }
    capture::LinkType linkType() const { return m_file ? m_file->linkType() : m_linkType; }
    bool isLive() const { return m_helper != nullptr; }

    /// Hands every frame to `handler` until the capture ends or stop() is called. Throws
    /// DumpError when the capture fails; exceptions of the handler pass through.
    void run(const FrameHandler& handler);
    /// Ends run() after the frame in hand, also before it started. Safe to call from a
    /// signal handler.
    void stop();
    /// Frames of a live capture that the kernel dropped because the capture fell behind,
    /// known once run() has returned.
    std::uint64_t kernelDrops() const { return m_helper ? m_helper->kernelDrops() : 0; }

private:
    CaptureSource(std::unique_ptr<capture::HelperCapture> helper, std::string name);
    explicit CaptureSource(capture::CaptureFileReader file);
    void takeLinkType(int dlt);
    void runFile(const FrameHandler& handler);

    pcap_t* m_handle = nullptr;  ///< of a live capture, made once its stream has started
    std::unique_ptr<capture::HelperCapture> m_helper;
    std::optional<capture::CaptureFileReader> m_file;
    std::string m_name;
    capture::LinkType m_linkType = capture::LinkType::Ethernet;
    std::atomic<bool> m_stopped{false};
};

}  // namespace qvlink::dump
