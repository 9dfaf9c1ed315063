#include "dump/capture_source.h"

#include <exception>
#include <utility>

#include "dump/dump_error.h"

namespace qvlink::dump {

namespace {

[[noreturn]] void throwCapture(const std::string& message) {
    throw DumpError(ExitCode::Capture, message);
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

CaptureSource CaptureSource::openLive(const std::string& helper, const std::string& interface,
                                      std::uint16_t port) {
    try {
        return CaptureSource(nullptr,
                             std::make_unique<capture::HelperCapture>(helper, interface, port,
                                                                      capture::CaptureFilter::Bus),
                             interface);
    } catch (const capture::CaptureError& error) {
        throwCapture(error.what());
    }
}

CaptureSource CaptureSource::openFile(const std::string& path) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* handle = pcap_open_offline(path.c_str(), error);
    if (handle == nullptr) {
        throwCapture(std::string("cannot read capture file ") + error);
    }
    CaptureSource source(handle, nullptr, path);
    // The frame decoder makes every check itself; a kernel-style filter would also miss
    // VLAN-tagged frames in files.
    source.takeLinkType(pcap_datalink(handle));
    return source;
}

CaptureSource::CaptureSource(pcap_t* handle, std::unique_ptr<capture::HelperCapture> helper,
                             std::string name)
    : m_handle(handle), m_helper(std::move(helper)), m_name(std::move(name)) {}

CaptureSource::CaptureSource(CaptureSource&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)),
      m_helper(std::move(other.m_helper)),
      m_name(std::move(other.m_name)),
      m_linkType(other.m_linkType) {}

CaptureSource::~CaptureSource() {
    if (m_handle != nullptr) {
        pcap_close(m_handle);
    }
}

void CaptureSource::takeLinkType(int dlt) {
    if (!capture::isSupportedLinkType(dlt)) {
        const char* dltName = pcap_datalink_val_to_name(dlt);
        throwCapture(m_name + ": unsupported link type " +
                     (dltName != nullptr ? dltName : std::to_string(dlt)) +
                     " (supported: " + capture::supportedLinkTypeNames() + ")");
    }
    m_linkType = static_cast<capture::LinkType>(dlt);
}

bool CaptureSource::awaitStart() {
    if (!m_helper) {
        return true;
    }
    try {
        if (!m_helper->awaitStart()) {
            return false;
        }
    } catch (const capture::CaptureError& error) {
        throwCapture(error.what());
    }
    takeLinkType(m_helper->linkType());
    m_handle = pcap_open_dead(m_helper->linkType(), static_cast<int>(m_helper->snapshotLength()));
    return true;
}

void CaptureSource::run(const FrameHandler& handler) {
    if (m_helper) {
        try {
            while (m_helper->read(handler)) {
            }
        } catch (const capture::CaptureError& error) {
            throwCapture(error.what());
        }
        return;
    }
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
    if (m_helper) {
        m_helper->stop();
    } else {
        pcap_breakloop(m_handle);
    }
}

}  // namespace qvlink::dump
