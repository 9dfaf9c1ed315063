#include "dump/capture_source.h"

#include <unistd.h>

#include <array>
#include <exception>
#include <utility>

#include "dump/dump_error.h"

namespace qvlink::dump {

namespace {

constexpr int kSnapshotLength = 65535;
constexpr int kReadTimeoutMs = 200;

[[noreturn]] void throwCapture(const std::string& message) {
    throw DumpError(ExitCode::Capture, message);
}

std::string executablePath() {
    std::array<char, 4096> path{};
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
    return length > 0 ? std::string(path.data(), static_cast<std::size_t>(length))
                      : std::string("qvlink-dump");
}

std::string interfaceNames() {
    char error[PCAP_ERRBUF_SIZE];
    pcap_if_t* interfaces = nullptr;
    if (pcap_findalldevs(&interfaces, error) != 0) {
        return {};
    }
    std::string names;
    for (const pcap_if_t* i = interfaces; i != nullptr; i = i->next) {
        names += names.empty() ? "" : ", ";
        names += i->name;
    }
    pcap_freealldevs(interfaces);
    return names;
}

std::string activationError(pcap_t* handle, int status, const std::string& interface) {
    switch (status) {
        case PCAP_ERROR_PERM_DENIED:
            return "permission denied: live capture needs root or cap_net_raw: sudo setcap "
                   "cap_net_raw+ep " +
                   executablePath();
        case PCAP_ERROR_NO_SUCH_DEVICE:
            return "no such interface: " + interface + " (capture interfaces: " + interfaceNames() +
                   ")";
        case PCAP_ERROR_IFACE_NOT_UP:
            return "interface " + interface + " is down";
        case PCAP_ERROR:
            return "cannot capture on " + interface + ": " + pcap_geterr(handle);
        default:
            return "cannot capture on " + interface + ": " + pcap_statustostr(status);
    }
}

struct LoopContext {
    const CaptureSource::FrameHandler* handler;
    pcap_t* handle;
    std::exception_ptr failure;
};

// Exceptions must not unwind through libpcap's C frames: the first one ends the loop and is
// thrown again once pcap_loop has returned.
void onPacket(u_char* user, const pcap_pkthdr* header, const u_char* frame) {
    auto* context = reinterpret_cast<LoopContext*>(user);
    try {
        (*context->handler)(*header, frame);
    } catch (...) {
        context->failure = std::current_exception();
        pcap_breakloop(context->handle);
    }
}

}  // namespace

std::string busFilter(std::uint16_t port) {
    return "ip and udp and (port " + std::to_string(port) + " or ip[6:2] & 0x1fff != 0)";
}

CaptureSource CaptureSource::openLive(const std::string& interface, std::uint16_t port) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* handle = pcap_create(interface.c_str(), error);
    if (handle == nullptr) {
        throwCapture("cannot capture on " + interface + ": " + error);
    }
    pcap_set_snaplen(handle, kSnapshotLength);
    pcap_set_immediate_mode(handle, 1);  // a monitor shows each datagram as it arrives
    pcap_set_timeout(handle, kReadTimeoutMs);
    const int status = pcap_activate(handle);
    if (status < 0) {
        const std::string message = activationError(handle, status, interface);
        pcap_close(handle);
        throwCapture(message);
    }
    return CaptureSource(handle, true, interface, port);
}

CaptureSource CaptureSource::openFile(const std::string& path, std::uint16_t port) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* handle = pcap_open_offline(path.c_str(), error);
    if (handle == nullptr) {
        throwCapture(std::string("cannot read capture file ") + error);
    }
    return CaptureSource(handle, false, path, port);
}

CaptureSource::CaptureSource(pcap_t* handle, bool live, const std::string& name, std::uint16_t port)
    : m_handle(handle), m_live(live) {
    const int dlt = pcap_datalink(handle);
    if (!capture::isSupportedLinkType(dlt)) {
        const char* dltName = pcap_datalink_val_to_name(dlt);
        const std::string message = name + ": unsupported link type " +
                                    (dltName != nullptr ? dltName : std::to_string(dlt)) +
                                    " (supported: " + capture::supportedLinkTypeNames() + ")";
        pcap_close(handle);
        throwCapture(message);
    }
    m_linkType = static_cast<capture::LinkType>(dlt);
    if (!live) {
        // The frame decoder makes every check itself; a kernel-style filter would also miss
        // VLAN-tagged frames in files.
        return;
    }

    bpf_program program{};
    const std::string filter = busFilter(port);
    if (pcap_compile(handle, &program, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0 ||
        pcap_setfilter(handle, &program) != 0) {
        const std::string message =
            name + ": cannot set filter \"" + filter + "\": " + pcap_geterr(handle);
        pcap_freecode(&program);
        pcap_close(handle);
        throwCapture(message);
    }
    pcap_freecode(&program);
}

CaptureSource::CaptureSource(CaptureSource&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)),
      m_live(other.m_live),
      m_linkType(other.m_linkType) {}

CaptureSource::~CaptureSource() {
    if (m_handle != nullptr) {
        pcap_close(m_handle);
    }
}

void CaptureSource::run(const FrameHandler& handler) {
    LoopContext context{&handler, m_handle, nullptr};
    const int result = pcap_loop(m_handle, -1, onPacket, reinterpret_cast<u_char*>(&context));
    if (context.failure) {
        std::rethrow_exception(context.failure);
    }
    if (result == PCAP_ERROR) {
        throwCapture(std::string("capture failed: ") + pcap_geterr(m_handle));
    }
}

void CaptureSource::stop() {
    pcap_breakloop(m_handle);
}

}  // namespace qvlink::dump
