#include "bridge/outbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qvlink::bridge {
namespace {

std::vector<Publication> drain(Outbox& outbox) {
    std::vector<Publication> taken;
    while (std::optional<Publication> next = outbox.take()) {
        taken.push_back(std::move(*next));
    }
    return taken;
}

TEST(Outbox, WaitingRetainedValueIsReplacedByTheNewerOne) {
    Outbox outbox;
    outbox.putRetained("p/ti/1", "1");
    outbox.putRetained("p/ti/2", "2");
    outbox.putRetained("p/ti/1", "3");
    const std::vector<Publication> taken = drain(outbox);
    ASSERT_EQ(taken.size(), 2U);
    EXPECT_EQ(taken[0].topic, "p/ti/1");
    EXPECT_EQ(taken[0].payload, "3");
    EXPECT_TRUE(taken[0].retain);
    EXPECT_EQ(taken[0].qos, 0);
    EXPECT_EQ(taken[1].payload, "2");
}

TEST(Outbox, RequeueBringsBackEveryRetainedTopicWithItsLatestValue) {
    Outbox outbox;
    outbox.putRetained("p/a", "1");
    outbox.putRetained("p/b", "2");
    drain(outbox);
    outbox.putRetained("p/a", "5");
    drain(outbox);
    outbox.putEvent("p/event", "e");
    drain(outbox);

    outbox.requeueRetained();
    const std::vector<Publication> again = drain(outbox);
    ASSERT_EQ(again.size(), 2U);  // events are not state: they are not repeated
    EXPECT_EQ(again[0].topic, "p/a");
    EXPECT_EQ(again[0].payload, "5");
    EXPECT_EQ(again[1].topic, "p/b");
}

TEST(Outbox, EventsAndRawBatchesBeyondTheBoundAreCountedAsDropped) {
    Outbox outbox(OutboxLimits{2, 10});
    for (int i = 0; i < 5; ++i) {
        outbox.putEvent("p/event", std::to_string(i));
    }
    outbox.putRaw("p/raw", std::string(6, 'x'), 3);
    outbox.putRaw("p/raw", std::string(6, 'y'), 4);  // 12 bytes would exceed 10
    outbox.putRaw("p/raw", std::string(4, 'z'), 1);
    EXPECT_EQ(outbox.depth(), 4U);
    EXPECT_EQ(outbox.drops(), (DropCounts{3, 4, 0}));

    const std::vector<Publication> taken = drain(outbox);
    ASSERT_EQ(taken.size(), 4U);
    // Once taken, the room is free again.
    outbox.putRaw("p/raw", std::string(10, 'w'), 2);
    EXPECT_EQ(outbox.depth(), 1U);
    EXPECT_EQ(outbox.drops().rawRecords, 4U);
}

TEST(Outbox, KindsAreTakenInTurnSoNoneWaitsBehindAnother) {
    Outbox outbox;
    for (int i = 0; i < 3; ++i) {
        outbox.putRaw("p/raw", "r", 1);
        outbox.putEvent("p/event", "e");
        outbox.putRetained("p/ts/" + std::to_string(i), "s");
    }
    std::string order;
    for (const Publication& publication : drain(outbox)) {
        order += publication.payload;
    }
    EXPECT_EQ(order, "resresres");
}

}  // namespace
}  // namespace qvlink::bridge
