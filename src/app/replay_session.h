#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture_file/bus_capture.h"
#include "common/bus_types.h"
#include "replay/replay_clock.h"
#include "replay/replay_engine.h"
#include "replay/replay_player.h"

namespace qvlink {

class TFMain;

/// What a replay shows in place of the live bus: the capture and the clock that follows it.
/// Made before the windows, which read this clock.
struct ReplaySource {
    /// Loads the datagrams to or from `busPort` out of `files`, telling `progress` how far it
    /// has come; throws capture::CaptureFileError with a message for the user, or
    /// capture::CaptureLoadCancelled when `progress` gave the load up.
    explicit ReplaySource(const std::vector<std::string>& files,
                          const capture::LoadProgress& progress = {},
                          std::uint16_t busPort = kBusPort);

    /// "name.pcap", or "name.pcap и ещё 2" for a set of files.
    std::string name;
    capture::BusCapture capture;
    ReplayClock clock;
};

/// The notices a replay starts with: what of the capture was passed over, and why.
std::vector<std::string> replayNotices(const capture::BusCapture& capture);

/// The replay of `source` into `main`, driven from the event loop.
class ReplaySession {
public:
    /// `source` and `main` outlive the session.
    ReplaySession(ReplaySource& source, TFMain& main);

    ReplayPlayer& player() { return m_player; }

private:
    ReplayEngine m_engine;
    ReplayPlayer m_player;
};

}  // namespace qvlink
