#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_options.h"
#include "budget.h"
#include "kernel_udp_stats.h"
#include "sim_command.h"

namespace qvlink::bench {
namespace {

TEST(Budget, PrintsItsLimitAndKeepsTheLimitItself) {
    constexpr Budget kMemory{Budget::Bound::AtMost, 60, " MiB"};
    constexpr Budget kShare{Budget::Bound::AtLeast, 40, "%"};
    constexpr Budget kRate{Budget::Bound::AtLeast, 200'000, "/s"};
    const struct {
        const char* name;
        Budget budget;
        const char* text;
        double kept;
        double missed;
    } cases[] = {
        {"at most, in MiB", kMemory, "<= 60 MiB", 60.0, 60.01},
        {"at least, a share", kShare, ">= 40%", 40.0, 39.99},
        {"at least, a rate in full digits", kRate, ">= 200000/s", 200'000.0, 199'999.0},
        {"a fractional limit", {Budget::Bound::AtMost, 0.5, " ms"}, "<= 0.5 ms", 0.0, 0.51},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.budget.text(), c.text);
        EXPECT_TRUE(c.budget.keptBy(c.kept));
        EXPECT_FALSE(c.budget.keptBy(c.missed));
    }
}

TEST(SimSummary, TheLastLoadLineCountsWhatWasSent) {
    const struct {
        const char* name;
        const char* output;
        bool found;
        std::uint64_t sent;
        double rate;
    } cases[] = {
        {"summary after per-second lines",
         "     1.000  load: 199012 datagrams/s (asked 200000)\n"
         "   #  MAC ...\n"
         "load: 799775 datagrams in 4.0 s = 199944 datagrams/s (asked 200000)\n",
         true, 799775, 199944.0},
        {"only per-second lines", "     1.000  load: 99000 datagrams/s (asked 100000)\n", false, 0,
         0.0},
        {"nothing", "", false, 0, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<SimSummary> summary = parseSimSummary(c.output);
        ASSERT_EQ(summary.has_value(), c.found);
        if (summary) {
            EXPECT_EQ(summary->sent, c.sent);
            EXPECT_DOUBLE_EQ(summary->rate, c.rate);
        }
    }
}

TEST(SimSummary, TheLoadRunsAtTheAskedRateAgainstTheGivenPortWithoutListening) {
    const std::vector<std::string> args = simArguments({"qvlink-sim", 40123, 50000, 2.5, 29});
    const std::string line = [&] {
        std::string joined;
        for (const std::string& arg : args) {
            joined += arg + " ";
        }
        return joined;
    }();
    for (const char* expected : {"--rate 50000 ", "--duration 2.500 ", "--port 40123 ", "-n 29 ",
                                 "--listen off ", "--target 127.0.0.1 "}) {
        EXPECT_NE(line.find(expected), std::string::npos) << expected << " in " << line;
    }
}

TEST(KernelUdpStats, SocketsOfThePortAreSummedFromTheTable) {
    const std::filesystem::path table =
        std::filesystem::temp_directory_path() / "qvlink_bench_udp_table";
    std::ofstream(table)
        << "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
           "timeout inode ref pointer drops\n"
           "  123: 00000000:9CBB 00000000:0000 07 00000000:00001A00 00:00000000 00000000     0  "
           "      0 5551 2 0000000000000000 17\n"
           "  124: 0100007F:9CBB 00000000:0000 07 00000000:00000100 00:00000000 00000000     0  "
           "      0 5552 2 0000000000000000 3\n"
           "  125: 00000000:03CD 00000000:0000 07 00000000:00000000 00:00000000 00000000     0  "
           "      0 5553 2 0000000000000000 9\n";
    const std::optional<KernelUdpStats> stats = kernelUdpStats(0x9CBB, table.string());
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->receiveQueueBytes, 0x1A00U + 0x100U);
    EXPECT_EQ(stats->drops, 20U);
    EXPECT_EQ(kernelUdpStats(973, table.string())->drops, 9U);
    EXPECT_FALSE(kernelUdpStats(974, table.string()));
    std::filesystem::remove(table);
}

TEST(BenchOptions, FlagsSetTheRunAndBadOnesAreRefused) {
    BenchOptions options;
    std::string error;
    ASSERT_EQ(parseBenchOptions({"--steps", "1000,max", "--flood-seconds=600", "--skip",
                                 "startup,devices", "--ticks", "50"},
                                options, error),
              ParseOutcome::Run)
        << error;
    EXPECT_EQ(options.rates, (std::vector<std::uint64_t>{1000, kMaxRate}));
    EXPECT_EQ(options.floodSeconds, 600.0);
    EXPECT_EQ(options.ticks, 50);
    EXPECT_FALSE(options.runs("startup"));
    EXPECT_TRUE(options.runs("flood"));

    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--steps", "1000,fast"},
                                                {"--skip", "painting"},
                                                {"--flood-seconds", "-1"},
                                                {"--ticks"},
                                                {"--bogus", "1"}}) {
        BenchOptions untouched;
        EXPECT_EQ(parseBenchOptions(bad, untouched, error), ParseOutcome::Error) << bad[0];
    }
    EXPECT_EQ(parseBenchOptions({"--help"}, options, error), ParseOutcome::Help);
}

}  // namespace
}  // namespace qvlink::bench
