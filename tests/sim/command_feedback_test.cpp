// The monitor's command feedback against the simulator's own answers to the two device
// commands, on a virtual clock.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_watch/command_watch.h"
#include "sim_test_support.h"

namespace qvlink::sim {
namespace {

using test::SimulatedBus;

constexpr SimMillis kCommandAt = 10'000;

/// Seconds with one decimal and a decimal comma, of a whole number of ticks.
std::string secondsText(SimMillis ms) {
    return std::to_string(ms / 1000) + "," + std::to_string(ms % 1000 / 100) + " с";
}

/// Two sequenced devices reporting every second, watched as the monitor watches them.
class SimulatedCommandFeedback : public ::testing::Test {
protected:
    static SimConfig config() {
        SimConfig config;
        config.deviceCount = 2;
        config.types = {1, 16};
        config.cycleSeconds = 1.0;
        return config;
    }

    void SetUp() override {
        bus.onSecond = [this] { watch.tick(); };
        bus.runUntil(kCommandAt);
        commandAt = bus.now();
    }

    std::string mac(std::size_t device) const { return bus.simulation.device(device).macText; }

    /// Milliseconds from the commands to the first datagram `device` sent after them.
    SimMillis firstDatagramAfterCommand(std::size_t device) const {
        for (const test::SentDatagram& sent : bus.sent) {
            if (sent.device == device && sent.at >= commandAt) {
                return sent.at - commandAt;
            }
        }
        ADD_FAILURE() << "device " << device << " sent nothing after the command";
        return 0;
    }

    SimulatedBus bus{config()};
    SimMillis commandAt = 0;  ///< the virtual time the tests send their commands at
    std::vector<std::string> reports;
    CommandWatch watch{bus.registry, [this] { return bus.now(); }, FormatSettings{",", ":"},
                       [this](const std::string& text) { reports.push_back(text); }};
};

TEST_F(SimulatedCommandFeedback, AddressChangeIsSeenFromTheNextDatagram) {
    watch.expectAddress(mac(0), "127.0.0.50");
    bus.simulation.changeIp(0, "127.0.0.50", bus.now());
    watch.expectAddress(mac(1), "127.0.0.51");  // a device that never takes it
    bus.runUntil(kCommandAt + 31'000);

    ASSERT_EQ(reports.size(), 2U);
    EXPECT_EQ(reports[0],
              mac(0) + " отвечает с 127.0.0.50 через " + secondsText(firstDatagramAfterCommand(0)));
    EXPECT_EQ(reports[1], mac(1) + " не появился с адресом 127.0.0.51 за 30 с");
}

TEST_F(SimulatedCommandFeedback, FirmwareModeEndsInTheRestartAfterTheQuietTime) {
    watch.expectFirmwareRestart(mac(1));
    bus.simulation.startReprogramming(1, bus.now());
    bus.runUntil(kCommandAt + 31'000);

    const SimMillis restartMs = firstDatagramAfterCommand(1);
    EXPECT_GE(restartMs, 5000) << "the simulator's quiet time";
    EXPECT_EQ(reports,
              std::vector<std::string>{mac(1) + " перезапустился через " + secondsText(restartMs) +
                                       " после команды обновления ПО"});
}

}  // namespace
}  // namespace qvlink::sim
