#include "command_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <optional>

#include "capture/frame_decoder.h"
#include "common/bus_types.h"
#include "common/unique_fd.h"
#include "sim_error.h"

namespace qvlink::sim {
namespace {

/// Room for more than the largest bus datagram, so that oversized ones are seen whole.
constexpr std::size_t kReceiveBuffer = 2048;
constexpr int kSnapLength = 512;
constexpr int kCaptureTimeoutMs = 10;

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

class CaptureListener final : public CommandListener {
public:
    CaptureListener(const std::string& device, std::uint16_t port) {
        std::array<char, PCAP_ERRBUF_SIZE> error{};
        m_pcap = pcap_create(device.c_str(), error.data());
        if (m_pcap == nullptr) {
            throw SimError("cannot capture on " + device + ": " + error.data());
        }
        pcap_set_snaplen(m_pcap, kSnapLength);
        pcap_set_promisc(m_pcap, 0);
        pcap_set_immediate_mode(m_pcap, 1);
        pcap_set_timeout(m_pcap, kCaptureTimeoutMs);
        if (const int rc = pcap_activate(m_pcap); rc < 0) {
            fail("cannot capture on " + device + ": " + pcap_statustostr(rc) + " " +
                 pcap_geterr(m_pcap));
        }
        bpf_program program{};
        const std::string filter = commandCaptureFilter(port);
        if (pcap_compile(m_pcap, &program, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0 ||
            pcap_setfilter(m_pcap, &program) != 0) {
            pcap_freecode(&program);
            fail("cannot set capture filter: " + std::string(pcap_geterr(m_pcap)));
        }
        pcap_freecode(&program);
        if (pcap_setnonblock(m_pcap, 1, error.data()) != 0) {
            fail(std::string("cannot capture without blocking: ") + error.data());
        }
        m_fd = pcap_get_selectable_fd(m_pcap);
        if (m_fd < 0) {
            fail("the capture on " + device + " cannot be waited for");
        }
        m_decoder.emplace(static_cast<capture::LinkType>(pcap_datalink(m_pcap)), port);
    }
    ~CaptureListener() override { pcap_close(m_pcap); }
    CaptureListener(const CaptureListener&) = delete;
    CaptureListener& operator=(const CaptureListener&) = delete;

    int pollFd() const override { return m_fd; }

    void drain(const CommandHandler& handler) override {
        m_handler = &handler;
        pcap_dispatch(m_pcap, -1, &CaptureListener::onFrame, reinterpret_cast<u_char*>(this));
        m_handler = nullptr;
    }

private:
    [[noreturn]] void fail(const std::string& message) {
        pcap_close(m_pcap);
        m_pcap = nullptr;
        throw SimError(message);
    }

    static void onFrame(u_char* self, const pcap_pkthdr* header, const u_char* bytes) {
        auto* listener = reinterpret_cast<CaptureListener*>(self);
        const capture::FrameDatagram datagram = listener->m_decoder->decode(bytes, header->caplen);
        if (datagram.kind == capture::FrameKind::Datagram) {
            (*listener->m_handler)(std::span(datagram.payload, datagram.capturedSize));
        }
    }

    pcap_t* m_pcap = nullptr;
    int m_fd = -1;
    std::optional<capture::FrameDecoder> m_decoder;
    const CommandHandler* m_handler = nullptr;
};

}  // namespace

std::string commandCaptureFilter(std::uint16_t port) {
    // udp[8] is the first payload byte: the magic, then the four zero bytes that stand where
    // a device puts its type and address.
    std::array<char, 96> filter{};
    std::snprintf(filter.data(), filter.size(),
                  "udp dst port %u and udp[8:2] = 0x%02X%02X and udp[10:4] = 0",
                  static_cast<unsigned>(port), kMagic0, kMagic1);
    return filter.data();
}

OpenedListener openCommandListener(ListenMode mode, std::uint16_t port,
                                   const std::string& pcapInterface) {
    const std::string portText = std::to_string(port);
    const auto capture = [&] {
        return OpenedListener{std::make_unique<CaptureListener>(pcapInterface, port),
                              ListenMode::Pcap,
                              "commands heard by packet capture on " + pcapInterface +
                                  " (filter \"" + commandCaptureFilter(port) + "\")"};
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
