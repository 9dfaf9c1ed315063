#include "app/replay_session.h"

#include <filesystem>

#include "app/main_window.h"
#include "common/bus_types.h"

namespace qvlink {
namespace {

std::string captureName(const std::vector<std::string>& files) {
    if (files.empty()) {
        return {};
    }
    std::string name = std::filesystem::path(files.front()).filename().string();
    if (name.empty()) {  // a folder given with its trailing slash
        name = std::filesystem::path(files.front()).parent_path().filename().string();
    }
    if (files.size() > 1) {
        name += " и ещё " + std::to_string(files.size() - 1);
    }
    return name;
}

}  // namespace

ReplaySource::ReplaySource(const std::vector<std::string>& files,
                           const capture::LoadProgress& progress, std::uint16_t busPort)
    : name(captureName(files)),
      capture(capture::loadBusCapture(files, busPort, kMaxDatagramSize, progress)) {}

std::vector<std::string> replayNotices(const capture::BusCapture& capture) {
    std::vector<std::string> notices = capture.problems;
    const capture::CaptureSkips& skips = capture.skips;
    if (skips.notBus + skips.fragments + skips.truncated > 0) {
        notices.push_back("Запись: пропущено кадров: " + std::to_string(skips.notBus) +
                          " не пакетов шины, " + std::to_string(skips.fragments) +
                          " фрагментов IP, " + std::to_string(skips.truncated) +
                          " пакетов, обрезанных при захвате");
    }
    if (capture.datagrams.empty()) {
        notices.push_back("В записи нет пакетов шины (UDP, порт " + std::to_string(kBusPort) + ")");
    }
    return notices;
}

ReplaySession::ReplaySession(ReplaySource& source, TFMain& main)
    : m_engine(source.capture, source.clock, main), m_player(m_engine) {}

}  // namespace qvlink
