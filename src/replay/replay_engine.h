#pragma once

// Runs a capture through the monitor in capture time: every datagram at its timestamp and the
// one-second refresh at every second of capture time, at a chosen speed or as fast as the
// machine goes, with pause, single steps and seeking.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "capture_file/bus_capture.h"
#include "replay/replay_clock.h"

namespace qvlink {

/// What a replay drives: the monitor's reception pipeline and its refresh. While a call runs
/// the replay clock reads the capture time of what it hands over.
class ReplayTarget {
public:
    virtual ~ReplayTarget() = default;
    /// Forget everything received: the replay starts over from the beginning of the capture.
    virtual void restart() = 0;
    /// One captured datagram arrives from `senderIp`: `kept` of its `length` bytes on the
    /// wire (fewer only when it is too long for the bus). `revisiting`: this moment was
    /// replayed before a seek back, so what lasts beyond the session (history) has it already.
    virtual void receive(std::span<const std::uint8_t> kept, std::size_t length,
                         const std::string& senderIp, bool revisiting) = 0;
    /// One second of capture time has passed: the refresh. `shown`: the last refresh before
    /// the replay hands control back, the one the windows show; the others need only age
    /// what they would have drawn.
    virtual void secondElapsed(bool revisiting, bool shown) = 0;
};

class ReplayEngine {
public:
    /// Speed factor of "as fast as possible".
    static constexpr int kAsFastAsPossible = 0;
    /// Datagrams handed over per advance() as fast as possible.
    static constexpr std::size_t kFastBatch = 4096;

    /// Replays `capture` into `target` on `clock`; all three outlive the engine. Starts
    /// paused at the capture's first timestamp, at speed 1. The capture ends at the first
    /// whole second after its last datagram.
    ReplayEngine(const capture::BusCapture& capture, ReplayClock& clock, ReplayTarget& target);

    std::int64_t startMicros() const { return m_startUs; }
    std::int64_t endMicros() const { return m_endUs; }
    std::int64_t positionMicros() const { return m_clock.nowMicros(); }
    /// Datagrams handed over since the start, of datagramCount().
    std::size_t deliveredCount() const { return m_next; }
    std::size_t datagramCount() const { return m_capture.datagrams.size(); }
    /// Every datagram handed over and the refresh that shows the last one done.
    bool atEnd() const { return m_next == datagramCount() && positionMicros() >= m_endUs; }

    bool isPlaying() const { return m_playing; }
    /// Plays on from the position; at the end of the capture nothing plays.
    void setPlaying(bool playing);
    int speed() const { return m_speed; }
    /// 1, 10, 100, ... times real time, or kAsFastAsPossible.
    void setSpeed(int factor) { m_speed = factor; }

    /// While playing, moves on by `wallMillis` of real time at the speed, or by kFastBatch
    /// datagrams as fast as possible. Playing stops at the end of the capture.
    void advance(std::int64_t wallMillis);
    /// The next datagram, with the refreshes of the seconds before it (after the last one,
    /// the closing refresh); false at the end.
    bool step();
    /// Goes to capture time `micros` (clamped to the capture). Going back starts over and
    /// replays up to there, so the state is rebuilt rather than guessed.
    void seek(std::int64_t micros);

private:
    /// Hands over the datagrams up to `micros` (at most `maxDatagrams`) and the seconds
    /// between them; once all of them are out, the clock moves on to `micros`.
    void runTo(std::int64_t micros, std::size_t maxDatagrams);
    /// The refreshes up to `micros`; those up to `shownFromUs` only age.
    void secondsUntil(std::int64_t micros, std::int64_t shownFromUs);
    void startOver();

    const capture::BusCapture& m_capture;
    ReplayClock& m_clock;
    ReplayTarget& m_target;
    std::int64_t m_startUs = 0;
    std::int64_t m_endUs = 0;
    std::size_t m_next = 0;
    std::int64_t m_nextSecondUs = 0;
    /// How far the replay ever got: datagrams and refreshes before this were seen once.
    std::size_t m_furthestDatagram = 0;
    std::int64_t m_furthestSecondUs = 0;
    bool m_playing = false;
    int m_speed = 1;
    std::string m_senderIp;
};

}  // namespace qvlink
