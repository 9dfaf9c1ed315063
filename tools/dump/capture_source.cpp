#include "dump/capture_source.h"

#include <utility>

#include "dump/dump_error.h"

namespace qvlink::dump {

namespace {

[[noreturn]] void throwCapture(const std::string& message) {
    throw DumpError(ExitCode::Capture, message);
}

}  // namespace

CaptureSource CaptureSource::openLive(const std::string& helper, const std::string& interface,
                                      std::uint16_t port) {
    try {
        return CaptureSource(std::make_unique<capture::HelperCapture>(helper, interface, port,
                                                                      capture::CaptureFilter::Bus),
                             interface);
    } catch (const capture::CaptureError& error) {
        throwCapture(error.what());
    }
}

CaptureSource CaptureSource::openFile(const std::string& path) {
    try {
        return CaptureSource(capture::CaptureFileReader(path));
    } catch (const capture::CaptureFileError& error) {
        throwCapture(error.what());
    }
}

CaptureSource::CaptureSource(std::unique_ptr<capture::HelperCapture> helper, std::string name)
    : m_helper(std::move(helper)), m_name(std::move(name)) {}

CaptureSource::CaptureSource(capture::CaptureFileReader file)
    : m_file(std::move(file)), m_name(m_file->path()) {}

CaptureSource::CaptureSource(CaptureSource&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)),
      m_helper(std::move(other.m_helper)),
      m_file(std::move(other.m_file)),
      m_name(std::move(other.m_name)),
      m_linkType(other.m_linkType),
      m_stopped(other.m_stopped.load()) {}

CaptureSource::~CaptureSource() {
    if (m_handle != nullptr) {
        pcap_close(m_handle);
    }
}

void CaptureSource::takeLinkType(int dlt) {
    if (!capture::isSupportedLinkType(dlt)) {
        throwCapture(capture::unsupportedLinkTypeText(m_name, dlt));
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
    runFile(handler);
}

void CaptureSource::runFile(const FrameHandler& handler) {
    const pcap_pkthdr* header = nullptr;
    const std::uint8_t* frame = nullptr;
    while (!m_stopped.load() && m_file->next(header, frame)) {
        handler(*header, frame);
    }
    if (!m_file->error().empty()) {
        throwCapture("capture failed: " + m_file->error());
    }
}

void CaptureSource::stop() {
    if (m_helper) {
        m_helper->stop();
    } else {
        m_stopped.store(true);
    }
}

}  // namespace qvlink::dump
