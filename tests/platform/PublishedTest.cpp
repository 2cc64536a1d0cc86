#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/Published.hpp"

namespace pelko {
namespace {

TEST(PublishedTest, DeliversCurrentValueFirstThenChangesInOrder) {
    Published<std::string> value("a");
    std::vector<std::string> seen;
    Subscription subscription = value.subscribe([&](const std::string& v) { seen.push_back(v); });
    value.set("b");
    value.set("c");
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(value.value(), "c");
}

TEST(PublishedTest, DestroyedSubscriptionStopsDelivery) {
    Published<int> value(0);
    std::vector<int> seen;
    {
        Subscription subscription = value.subscribe([&](int v) { seen.push_back(v); });
        value.set(1);
        Subscription moved = std::move(subscription);
        value.set(2);
    }
    value.set(3);
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));
}

TEST(PublishedTest, HandlerMayDropItsOwnSubscriptionAndSubscriptionMayOutliveTheValue) {
    std::vector<int> seen;
    std::optional<Subscription> self;
    {
        Published<int> value(0);
        self = value.subscribe([&](int v) {
            seen.push_back(v);
            if (v == 1) self.reset();
        });
        Subscription other = value.subscribe([&](int v) { seen.push_back(100 + v); });
        value.set(1);
        value.set(2);
        self = value.subscribe([](int) {});
    }
    self.reset();  // the Published is gone; cancelling does nothing
    EXPECT_EQ(seen, (std::vector<int>{0, 100, 1, 101, 102}));
}

}  // namespace
}  // namespace pelko
