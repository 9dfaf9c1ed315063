#include "command_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <optional>

#include "capture/helper_capture.h"
#include "capture_file/frame_decoder.h"
#include "common/unique_fd.h"
#include "sim_error.h"

namespace qvlink::sim {
namespace {

/// Room for more than the largest bus datagram, so that oversized ones are seen whole.
constexpr std::size_t kReceiveBuffer = 2048;

class BoundListener final : public CommandListener {
public:
    explicit BoundListener(std::uint16_t port)
        : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
        if (!m_fd) {
            throw systemError("cannot create a UDP socket", errno);
        }
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(m_fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            throw systemError("cannot bind UDP 0.0.0.0:" + std::to_string(port), errno);
        }
    }

    int pollFd() const override { return m_fd.get(); }

    void drain(const CommandHandler& handler) override {
        for (;;) {
            const ssize_t size = ::recv(m_fd.get(), m_buffer.data(), m_buffer.size(), 0);
            if (size < 0) {
                return;  // EAGAIN: nothing more waiting
            }
            handler({m_buffer.data(), static_cast<std::size_t>(size)});
        }
    }

private:
    UniqueFd m_fd;
    std::array<std::uint8_t, kReceiveBuffer> m_buffer{};
};

/// Commands captured by the capture helper beside a monitor that holds the port.
class CaptureListener final : public CommandListener {
public:
    CaptureListener(const std::string& helper, const std::string& device, std::uint16_t port)
        : m_helper(helper, device, port, capture::CaptureFilter::Commands) {
        if (!m_helper.awaitStart()) {
            throw SimError("the capture on " + device + " was stopped while starting");
        }
        const int dlt = m_helper.linkType();
        if (!capture::isSupportedLinkType(dlt)) {
            throw SimError("cannot capture on " + device + ": unsupported link type " +
                           std::to_string(dlt));
        }
        m_decoder.emplace(static_cast<capture::LinkType>(dlt), port);
        m_helper.setNonBlocking();
    }

    int pollFd() const override { return m_helper.fd(); }

    void drain(const CommandHandler& handler) override {
        const capture::FrameHandler onFrame = [this, &handler](const pcap_pkthdr& header,
                                                               const std::uint8_t* bytes) {
            const capture::FrameDatagram datagram = m_decoder->decode(bytes, header.caplen);
            if (datagram.kind == capture::FrameKind::Datagram) {
                handler(std::span(datagram.payload, datagram.capturedSize));
            }
        };
        try {
            m_helper.read(onFrame);
        } catch (const capture::CaptureError&) {
            // The capture has ended; fd() is -1 from now on and commands are no longer heard.
        }
    }

private:
    capture::HelperCapture m_helper;
    std::optional<capture::FrameDecoder> m_decoder;
};

}  // namespace

OpenedListener openCommandListener(ListenMode mode, std::uint16_t port,
                                   const std::string& pcapInterface,
                                   const std::string& captureHelper) {
    const std::string portText = std::to_string(port);
    const auto capture = [&] {
        try {
            return OpenedListener{
                std::make_unique<CaptureListener>(captureHelper, pcapInterface, port),
                ListenMode::Pcap,
                "commands heard by packet capture on " + pcapInterface + " (filter \"" +
                    capture::filterExpression(capture::CaptureFilter::Commands, port) + "\")"};
        } catch (const capture::CaptureError& error) {
            throw SimError(error.what());
        }
    };
    const auto bind = [&] {
        return OpenedListener{std::make_unique<BoundListener>(port), ListenMode::Bind,
                              "commands heard on UDP 0.0.0.0:" + portText};
    };
    switch (mode) {
        case ListenMode::Pcap:
            return capture();
        case ListenMode::Bind:
            return bind();
        case ListenMode::Off:
            return {nullptr, ListenMode::Off, "commands not heard (--listen off)"};
        case ListenMode::Auto:
            break;
    }
    std::string reasons;
    try {
        return capture();
    } catch (const SimError& error) {
        reasons = error.what();
    }
    try {
        return bind();
    } catch (const SimError& error) {
        reasons += "; " + std::string(error.what());
    }
    return {nullptr, ListenMode::Off, "commands not heard: " + reasons};
}

}  // namespace qvlink::sim
