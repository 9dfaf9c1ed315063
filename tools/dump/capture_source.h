#pragma once

// libpcap capture of the bus: live on an interface or from a pcap/pcapng file.

#include <pcap/pcap.h>

#include <cstdint>
#include <functional>
#include <string>

#include "capture/frame_decoder.h"

namespace qvlink::dump {

/// The live capture filter: IPv4 UDP to or from the bus port, plus later IP fragments
/// (which carry no port), so that a fragmented bus datagram shows all its pieces.
std::string busFilter(std::uint16_t port);

class CaptureSource {
public:
    using FrameHandler = std::function<void(const pcap_pkthdr&, const std::uint8_t*)>;

    /// Opens a live capture on `interface` ("any" for all). Throws DumpError with a message
    /// naming the cure (missing capture right, unknown interface, ...).
    static CaptureSource openLive(const std::string& interface, std::uint16_t port);
    /// Opens a pcap or pcapng file. Throws DumpError when it cannot be read.
    static CaptureSource openFile(const std::string& path, std::uint16_t port);

    CaptureSource(CaptureSource&& other) noexcept;
    CaptureSource& operator=(CaptureSource&&) = delete;
    ~CaptureSource();

    pcap_t* handle() const { return m_handle; }
    capture::LinkType linkType() const { return m_linkType; }
    bool isLive() const { return m_live; }

    /// Hands every frame to `handler` until the file ends or stop() is called. Throws
    /// DumpError when the capture fails; exceptions of the handler pass through.
    void run(const FrameHandler& handler);
    /// Ends run() after the frame in hand. Safe to call from a signal handler.
    void stop();

private:
    CaptureSource(pcap_t* handle, bool live, const std::string& name, std::uint16_t port);

    pcap_t* m_handle;
    bool m_live;
    capture::LinkType m_linkType = capture::LinkType::Ethernet;
};

}  // namespace qvlink::dump
