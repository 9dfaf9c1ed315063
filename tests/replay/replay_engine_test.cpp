#include "replay/replay_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qvlink {
namespace {

constexpr std::int64_t kStartUs = 1'718'454'600'000'000;  // 2024-06-15 12:30:00 UTC
constexpr std::int64_t kSecond = 1'000'000;

/// What the replay handed over, each with the replay clock's reading at that moment.
struct Call {
    char kind;  ///< 'R' restart, 'D' datagram, 'S' second
    std::int64_t atUs;
    std::string detail;  ///< sender and first byte of a datagram
    bool revisiting;

    bool operator==(const Call&) const = default;
};

class RecordingTarget : public ReplayTarget {
public:
    explicit RecordingTarget(const ReplayClock& clock) : m_clock(clock) {}

    void restart() override { calls.push_back({'R', m_clock.nowMicros(), {}, false}); }
    void receive(std::span<const std::uint8_t> datagram, std::size_t, const std::string& senderIp,
                 bool revisiting) override {
        calls.push_back({'D', m_clock.nowMicros(),
                         senderIp + "#" + std::to_string(datagram.empty() ? -1 : datagram[0]),
                         revisiting});
    }
    void secondElapsed(bool revisiting, bool shown) override {
        calls.push_back({'S', m_clock.nowMicros(), {}, revisiting});
        shownSeconds += shown ? 1 : 0;
    }

    std::size_t count(char kind) const {
        std::size_t n = 0;
        for (const Call& call : calls) {
            n += call.kind == kind ? 1 : 0;
        }
        return n;
    }

    std::vector<Call> calls;
    int shownSeconds = 0;

private:
    const ReplayClock& m_clock;
};

/// Datagram i carries byte i and is sent from 10.0.0.(i+1) at `offsetsMs[i]` after the start.
capture::BusCapture captureAt(const std::vector<std::int64_t>& offsetsMs) {
    capture::BusCapture capture;
    for (std::size_t i = 0; i < offsetsMs.size(); ++i) {
        capture.datagrams.push_back({kStartUs + offsetsMs[i] * 1000,
                                     0x0A000001u + static_cast<std::uint32_t>(i),
                                     static_cast<std::uint32_t>(i), 1});
        capture.bytes.push_back(static_cast<std::uint8_t>(i));
    }
    return capture;
}

struct Replay {
    explicit Replay(const std::vector<std::int64_t>& offsetsMs)
        : capture(captureAt(offsetsMs)), target(clock), engine(capture, clock, target) {}
    capture::BusCapture capture;
    ReplayClock clock;
    RecordingTarget target;
    ReplayEngine engine;
};

TEST(ReplayEngine, StartsPausedAtTheFirstTimestampAndHandsEachDatagramOverAtItsOwnTime) {
    Replay replay({0, 400, 1200});
    EXPECT_EQ(replay.clock.nowMicros(), kStartUs);
    replay.engine.advance(5000);
    EXPECT_TRUE(replay.target.calls.empty()) << "paused";

    replay.engine.setPlaying(true);
    replay.engine.advance(500);
    EXPECT_EQ(replay.target.calls,
              (std::vector<Call>{{'D', kStartUs, "10.0.0.1#0", false},
                                 {'D', kStartUs + 400'000, "10.0.0.2#1", false}}));
    EXPECT_EQ(replay.clock.nowMicros(), kStartUs + 500'000) << "the clock runs between datagrams";

    replay.engine.advance(1000);
    ASSERT_EQ(replay.target.calls.size(), 4U);
    EXPECT_EQ(replay.target.calls[2], (Call{'S', kStartUs + kSecond, {}, false}))
        << "the refresh of the first second comes before the datagram after it";
    EXPECT_EQ(replay.target.calls[3], (Call{'D', kStartUs + 1'200'000, "10.0.0.3#2", false}));
    EXPECT_FALSE(replay.engine.atEnd()) << "the refresh that shows the last one is due";

    replay.engine.advance(1000);
    EXPECT_EQ(replay.target.calls.back(), (Call{'S', kStartUs + 2 * kSecond, {}, false}));
    EXPECT_EQ(replay.clock.nowMicros(), kStartUs + 2 * kSecond);
    EXPECT_TRUE(replay.engine.atEnd());
    EXPECT_FALSE(replay.engine.isPlaying()) << "playing stops at the end";
}

struct PacingCase {
    const char* name;
    int speed;
    std::int64_t passMs;
};

class ReplayPacing : public ::testing::TestWithParam<PacingCase> {};

// However the wall-clock time is cut into passes and whatever the speed, a capture of 125
// seconds gets 126 refreshes (the last shows its last datagram), each at its whole second.
TEST_P(ReplayPacing, EveryCaptureSecondRefreshesOnceAtItsOwnTime) {
    const PacingCase& row = GetParam();
    Replay replay({0, 61'000, 125'000});
    replay.engine.setSpeed(row.speed);
    replay.engine.setPlaying(true);
    for (int pass = 0; pass < 1'000'000 && replay.engine.isPlaying(); ++pass) {
        replay.engine.advance(row.passMs);
    }
    ASSERT_TRUE(replay.engine.atEnd());
    EXPECT_EQ(replay.target.count('D'), 3U);
    std::int64_t expectedUs = kStartUs;
    for (const Call& call : replay.target.calls) {
        if (call.kind == 'S') {
            expectedUs += kSecond;
            EXPECT_EQ(call.atUs, expectedUs);
        }
    }
    EXPECT_EQ(replay.target.count('S'), 126U);
}

INSTANTIATE_TEST_SUITE_P(
    Speeds, ReplayPacing,
    ::testing::Values(PacingCase{"RealTimeInShortPasses", 1, 7},
                      PacingCase{"RealTimeInLongPasses", 1, 3000}, PacingCase{"TenTimes", 10, 20},
                      PacingCase{"HundredTimes", 100, 20},
                      PacingCase{"AsFastAsPossible", ReplayEngine::kAsFastAsPossible, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplayEngine, AsFastAsPossibleHandsOverOneBatchPerPass) {
    std::vector<std::int64_t> offsets(ReplayEngine::kFastBatch + 10, 0);
    Replay replay(offsets);
    replay.engine.setSpeed(ReplayEngine::kAsFastAsPossible);
    replay.engine.setPlaying(true);
    replay.engine.advance(0);
    EXPECT_EQ(replay.target.count('D'), ReplayEngine::kFastBatch);
    EXPECT_TRUE(replay.engine.isPlaying());
    replay.engine.advance(0);
    EXPECT_EQ(replay.target.count('D'), offsets.size());
    EXPECT_FALSE(replay.engine.isPlaying());
}

// A refresh draws only where the replay hands control back; the others only age.
TEST(ReplayEngine, OnlyTheLastRefreshOfEachPassDraws) {
    Replay seeking({0, 61'000, 125'000});
    seeking.engine.seek(seeking.engine.endMicros());
    EXPECT_EQ(seeking.target.count('S'), 126U);
    EXPECT_EQ(seeking.target.shownSeconds, 1);

    Replay paced({0, 61'000, 125'000});
    paced.engine.setPlaying(true);
    while (paced.engine.isPlaying()) {
        paced.engine.advance(3000);
    }
    EXPECT_EQ(paced.target.shownSeconds, 42) << "one in each pass of three seconds";

    std::vector<std::int64_t> offsets;
    for (std::size_t i = 0; i < ReplayEngine::kFastBatch + 10; ++i) {
        offsets.push_back(static_cast<std::int64_t>(i));
    }
    Replay fast(offsets);
    fast.engine.setSpeed(ReplayEngine::kAsFastAsPossible);
    fast.engine.setPlaying(true);
    fast.engine.advance(0);
    EXPECT_EQ(fast.target.count('S'), 4U);
    EXPECT_EQ(fast.target.shownSeconds, 1) << "the fourth second, before the batch ends";
    fast.engine.advance(0);
    EXPECT_EQ(fast.target.count('S'), 5U);
    EXPECT_EQ(fast.target.shownSeconds, 2);
}

TEST(ReplayEngine, StepHandsOverTheNextDatagramWithTheSecondsBeforeIt) {
    Replay replay({0, 0, 2500});
    EXPECT_TRUE(replay.engine.step());
    EXPECT_TRUE(replay.engine.step());
    EXPECT_EQ(replay.target.count('D'), 2U);
    EXPECT_EQ(replay.target.count('S'), 0U);
    EXPECT_TRUE(replay.engine.step());
    EXPECT_EQ(replay.target.count('S'), 2U);
    EXPECT_EQ(replay.clock.nowMicros(), kStartUs + 2'500'000);
    EXPECT_TRUE(replay.engine.step()) << "the refresh that shows the last datagram";
    EXPECT_EQ(replay.target.count('S'), 3U);
    EXPECT_FALSE(replay.engine.step()) << "nothing after the end";
}

TEST(ReplayEngine, SeekingBackStartsOverAndMarksWhatWasSeenBefore) {
    Replay replay({0, 1500, 3500, 5000});
    replay.engine.seek(kStartUs + 4'000'000);
    EXPECT_EQ(replay.target.count('R'), 0U) << "forward needs no restart";
    EXPECT_EQ(replay.target.count('D'), 3U);
    EXPECT_EQ(replay.clock.nowMicros(), kStartUs + 4'000'000);

    replay.target.calls.clear();
    replay.engine.seek(kStartUs + 2'000'000);
    ASSERT_FALSE(replay.target.calls.empty());
    EXPECT_EQ(replay.target.calls.front().kind, 'R');
    EXPECT_EQ(replay.target.count('D'), 2U);
    EXPECT_EQ(replay.target.count('S'), 2U);
    for (const Call& call : replay.target.calls) {
        EXPECT_TRUE(call.kind == 'R' || call.revisiting) << call.kind << call.atUs;
    }

    replay.target.calls.clear();
    replay.engine.seek(kStartUs + 10'000'000);  // clamped to the end
    EXPECT_EQ(replay.clock.nowMicros(), kStartUs + 6'000'000);
    std::vector<bool> revisited;
    for (const Call& call : replay.target.calls) {
        revisited.push_back(call.revisiting);
    }
    // Second 3, datagram at 3.5 s and second 4 were seen; seconds 5 and 6 and the last
    // datagram not.
    EXPECT_EQ(revisited, (std::vector<bool>{true, true, true, false, false, false}));
}

TEST(ReplayEngine, AnEmptyCaptureIsAtItsEndAndNeverPlays) {
    Replay replay({});
    EXPECT_TRUE(replay.engine.atEnd());
    replay.engine.setPlaying(true);
    EXPECT_FALSE(replay.engine.isPlaying());
    replay.engine.seek(kStartUs);
    EXPECT_FALSE(replay.engine.step());
    EXPECT_TRUE(replay.target.calls.empty());
}

TEST(ReplayClock, ReadsTheCaptureTimeInEveryUnit) {
    ReplayClock clock;
    clock.set(kStartUs + 250'000);
    EXPECT_EQ(clock.epochClock()(), kStartUs + 250'000);
    EXPECT_EQ(clock.elapsedClock()(), (kStartUs + 250'000) / 1000);
    EXPECT_EQ(clock.localClock()(), localTimeOf(kStartUs + 250'000));
    EXPECT_EQ(clock.localClock()().msec, 250);
}

}  // namespace
}  // namespace qvlink
