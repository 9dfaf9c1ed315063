#include "capture_file/bus_capture.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>

#include "capture_file/capture_file_reader.h"

namespace qvlink::capture {
namespace {

/// One file's bus datagrams, before the files are put in order.
struct FileCapture {
    std::string path;
    std::int64_t firstFrameUs = std::numeric_limits<std::int64_t>::max();
    BusCapture capture;
};

void countSkip(FrameKind kind, CaptureSkips& skips) {
    switch (kind) {
        case FrameKind::NotBus:
            ++skips.notBus;
            break;
        case FrameKind::Fragment:
            ++skips.fragments;
            break;
        case FrameKind::Truncated:
            ++skips.truncated;
            break;
        case FrameKind::Datagram:
            break;
    }
}

/// Bytes of the file at `path`; 0 when that cannot be told.
std::uint64_t sizeOf(const std::string& path) {
    std::error_code unknown;
    const std::uintmax_t size = std::filesystem::file_size(path, unknown);
    return unknown ? 0 : size;
}

/// Room for the datagrams of a file of `fileBytes`: the bytes can be no more than the file,
/// and the smallest frame with a datagram takes a record header and 42 bytes of headers.
void reserveFor(std::uintmax_t fileBytes, BusCapture& capture) {
    constexpr std::uintmax_t kLeastRecord = 16 + 42 + 4;
    capture.bytes.reserve(static_cast<std::size_t>(fileBytes));
    capture.datagrams.reserve(static_cast<std::size_t>(fileBytes / kLeastRecord));
}

/// Tells a load's progress from the bytes of the files before the one being read and of that
/// one so far.
class ProgressTeller {
public:
    ProgressTeller(const LoadProgress& progress, std::uint64_t total)
        : m_progress(progress), m_total(total) {}

    /// Every kFramesBetween frames, and when `atEnd`, tells the progress; throws
    /// CaptureLoadCancelled when it gives the load up.
    void frameRead(const CaptureFileReader& reader, bool atEnd = false) {
        if (!m_progress || (++m_frames % kFramesBetween != 0 && !atEnd)) {
            return;
        }
        if (!m_progress(std::min(m_before + reader.bytesRead(), m_total), m_total)) {
            throw CaptureLoadCancelled();
        }
    }
    void fileDone(std::uint64_t fileBytes) { m_before += fileBytes; }

private:
    static constexpr std::uint64_t kFramesBetween = 4096;
    const LoadProgress& m_progress;
    std::uint64_t m_total;
    std::uint64_t m_before = 0;
    std::uint64_t m_frames = 0;
};

FileCapture readFile(CaptureFileReader& reader, std::uint16_t port, std::size_t longestDatagram,
                     ProgressTeller& teller) {
    FileCapture file;
    file.path = reader.path();
    reserveFor(sizeOf(file.path), file.capture);
    FrameDecoder decoder(reader.linkType(), port);
    const pcap_pkthdr* header = nullptr;
    const std::uint8_t* frame = nullptr;
    while (reader.next(header, frame)) {
        teller.frameRead(reader);
        file.firstFrameUs = std::min(file.firstFrameUs, captureMicros(header->ts));
        const FrameDatagram datagram = decoder.decode(frame, header->caplen);
        const bool tooLongThoughCut =
            datagram.kind == FrameKind::Truncated && datagram.datagramSize > longestDatagram;
        if (datagram.kind != FrameKind::Datagram && !tooLongThoughCut) {
            countSkip(datagram.kind, file.capture.skips);
            continue;
        }
        std::vector<std::uint8_t>& bytes = file.capture.bytes;
        file.capture.datagrams.push_back({captureMicros(header->ts), datagram.sourceIp,
                                          static_cast<std::uint32_t>(bytes.size()),
                                          static_cast<std::uint32_t>(datagram.capturedSize),
                                          static_cast<std::uint32_t>(datagram.datagramSize)});
        bytes.insert(bytes.end(), datagram.payload, datagram.payload + datagram.capturedSize);
    }
    if (!reader.error().empty()) {
        file.capture.problems.push_back(reader.error());
    }
    teller.frameRead(reader, true);
    return file;
}

/// The files `paths` name, folders replaced by their regular files in name order.
std::vector<std::pair<std::string, bool>> expandFolders(const std::vector<std::string>& paths) {
    std::vector<std::pair<std::string, bool>> files;  // path, and whether it was named
    for (const std::string& path : paths) {
        std::error_code error;
        if (!std::filesystem::is_directory(path, error)) {
            files.emplace_back(path, true);
            continue;
        }
        std::vector<std::string> members;
        for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
            if (entry.is_regular_file(error)) {
                members.push_back(entry.path().string());
            }
        }
        std::sort(members.begin(), members.end());
        for (std::string& member : members) {
            files.emplace_back(std::move(member), false);
        }
    }
    return files;
}

void append(FileCapture&& file, BusCapture& capture) {
    const auto base = static_cast<std::uint32_t>(capture.bytes.size());
    std::int64_t lastUs = capture.datagrams.empty() ? std::numeric_limits<std::int64_t>::min()
                                                    : capture.datagrams.back().timeUs;
    const std::size_t first = capture.datagrams.size();
    if (capture.datagrams.empty()) {  // the first file's are taken over, not copied
        capture.datagrams = std::move(file.capture.datagrams);
        capture.bytes = std::move(file.capture.bytes);
    } else {
        capture.datagrams.insert(capture.datagrams.end(), file.capture.datagrams.begin(),
                                 file.capture.datagrams.end());
        capture.bytes.insert(capture.bytes.end(), file.capture.bytes.begin(),
                             file.capture.bytes.end());
    }
    for (std::size_t i = first; i < capture.datagrams.size(); ++i) {
        CapturedDatagram& datagram = capture.datagrams[i];
        datagram.offset += base;
        datagram.timeUs = lastUs = std::max(lastUs, datagram.timeUs);
    }
    capture.skips.notBus += file.capture.skips.notBus;
    capture.skips.fragments += file.capture.skips.fragments;
    capture.skips.truncated += file.capture.skips.truncated;
    for (std::string& problem : file.capture.problems) {
        capture.problems.push_back(std::move(problem));
    }
    capture.files.push_back(std::move(file.path));
}

}  // namespace

std::int64_t captureMicros(const timeval& time) {
    constexpr std::int64_t kMicrosPerSecond = 1'000'000;
    constexpr std::int64_t kLimitSeconds =
        std::numeric_limits<std::int64_t>::max() / kMicrosPerSecond - 1;
    const std::int64_t seconds =
        std::clamp<std::int64_t>(time.tv_sec, -kLimitSeconds, kLimitSeconds);
    const std::int64_t fraction =
        std::clamp<std::int64_t>(time.tv_usec, -(kMicrosPerSecond - 1), kMicrosPerSecond - 1);
    return seconds * kMicrosPerSecond + fraction;
}

BusCapture loadBusCapture(const std::vector<std::string>& paths, std::uint16_t port,
                          std::size_t longestDatagram, const LoadProgress& progress) {
    std::vector<FileCapture> files;
    BusCapture capture;
    const std::vector<std::pair<std::string, bool>> found = expandFolders(paths);
    std::uint64_t total = 0;
    for (const auto& [path, named] : found) {
        total += sizeOf(path);
    }
    ProgressTeller teller(progress, total);
    for (const auto& [path, named] : found) {
        std::optional<CaptureFileReader> reader;
        try {
            reader.emplace(path);
        } catch (const CaptureFileError& error) {
            if (named) {
                throw;
            }
            capture.problems.push_back(error.what());
            teller.fileDone(sizeOf(path));
            continue;
        }
        files.push_back(readFile(*reader, port, longestDatagram, teller));
        teller.fileDone(sizeOf(path));
    }
    if (files.empty()) {
        throw CaptureFileError("no capture file to read" +
                               (capture.problems.empty() ? "" : ": " + capture.problems.front()));
    }
    std::stable_sort(files.begin(), files.end(), [](const FileCapture& a, const FileCapture& b) {
        return a.firstFrameUs != b.firstFrameUs ? a.firstFrameUs < b.firstFrameUs : a.path < b.path;
    });
    for (FileCapture& file : files) {
        append(std::move(file), capture);
    }
    return capture;
}

}  // namespace qvlink::capture
