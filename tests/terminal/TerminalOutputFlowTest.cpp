#include <gtest/gtest.h>

#include <numeric>

#include "terminal/TerminalOutputFlow.hpp"

namespace pelko {
namespace {

std::vector<std::uint8_t> bytes(std::size_t count, std::uint8_t first = 0) {
    std::vector<std::uint8_t> result(count);
    std::iota(result.begin(), result.end(), first);
    return result;
}

TEST(TerminalOutputFlowTest, OutputWaitingForThePageLeavesAsFewerLargerEventsInOrder) {
    TerminalOutputFlow flow(
        {.maxEventBytes = 10, .maxEventsInFlight = 1, .highWatermark = 100, .lowWatermark = 50});
    flow.append(bytes(3, 0));
    auto first = flow.nextEvent();
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, bytes(3, 0));
    // While the first is in flight, three reads pile up and leave as two events of at most 10 bytes.
    flow.append(bytes(4, 3));
    flow.append(bytes(4, 7));
    flow.append(bytes(4, 11));
    EXPECT_FALSE(flow.nextEvent());
    flow.acknowledge(first->size());
    auto second = flow.nextEvent();
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, bytes(10, 3));
    EXPECT_FALSE(flow.nextEvent());
    // At the end of a session nothing waits for the page.
    auto last = flow.nextEvent(true);
    ASSERT_TRUE(last);
    EXPECT_EQ(*last, bytes(2, 13));
    EXPECT_FALSE(flow.nextEvent(true));
    EXPECT_EQ(flow.undeliveredBytes(), 12u);
}

TEST(TerminalOutputFlowTest, ReadingPausesAtTheHighWatermarkAndResumesOnlyAtTheLowOne) {
    TerminalOutputFlow flow(
        {.maxEventBytes = 20, .maxEventsInFlight = 10, .highWatermark = 100, .lowWatermark = 40});
    struct Step {
        int read;          // bytes appended, handed out at once as events of up to 20
        int acknowledged;  // events of 20 bytes the page took
        bool shouldRead;
    };
    const Step steps[] = {
        {60, 0, true},   // 60 undelivered
        {40, 0, false},  // 100: the high watermark pauses
        {0, 2, false},   // 60: above the low watermark, still paused
        {0, 1, true},    // 40: resumes
        {50, 0, true},   // 90
        {10, 0, false},  // 100
    };
    for (const auto& step : steps) {
        flow.append(bytes(static_cast<std::size_t>(step.read)));
        while (flow.nextEvent()) {
        }
        for (int i = 0; i < step.acknowledged; ++i) flow.acknowledge(20);
        EXPECT_EQ(flow.shouldRead(), step.shouldRead) << "after " << step.read << "/" << step.acknowledged;
    }
}

}  // namespace
}  // namespace pelko
