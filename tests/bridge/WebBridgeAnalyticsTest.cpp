// Analytics events from the page.
#include <gtest/gtest.h>

#include "bridge/BridgeTestSupport.hpp"

namespace pelko::test {
namespace {

Json event(Json payload) {
    return Json{{"type", "analytics/event"}, {"payload", std::move(payload)}};
}

class WebBridgeAnalytics : public ::testing::Test {
  protected:
    void SetUp() override {
        loaded.bridge->configure(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, analytics);
    }

    LoadedBridge loaded;
    std::shared_ptr<FakeAnalytics> analytics = std::make_shared<FakeAnalytics>();
};

TEST_F(WebBridgeAnalytics, ANamedEventIsLoggedWithOrWithoutUsableProperties) {
    loaded.bridge->handle(event({{"name", "opened"}}));
    loaded.bridge->handle(event({{"name", " "}, {"properties", Json::array({1, 2})}}));
    loaded.bridge->handle(event({{"name", "s"}, {"properties", "text"}}));
    loaded.bridge->handle(event({{"name", "n"}, {"properties", 3}}));
    loaded.bridge->handle(event({{"name", "z"}, {"properties", nullptr}}));
    ASSERT_EQ(analytics->entries.size(), 5u);
    EXPECT_EQ(analytics->entries[0].first, "opened");
    EXPECT_EQ(analytics->entries[1].first, " ");
    for (const auto& entry : analytics->entries) EXPECT_TRUE(entry.second.empty()) << entry.first;
}

TEST_F(WebBridgeAnalytics, MessagesWithoutANameAreDropped) {
    loaded.bridge->handle(event({{"name", ""}}));
    loaded.bridge->handle(event({{"name", 5}}));
    loaded.bridge->handle(event({{"properties", {{"a", 1}}}}));
    loaded.bridge->handle(event(Json::object()));
    loaded.bridge->handle(Json{{"type", "analytics/event"}});
    EXPECT_TRUE(analytics->entries.empty());
}

TEST_F(WebBridgeAnalytics, PropertyValuesKeepTheirKinds) {
    loaded.bridge->handle(event({{"name", "kinds"},
                                 {"properties",
                                  {{"flag", true},
                                   {"text", "x"},
                                   {"count", 3},
                                   {"ratio", 2.5},
                                   {"huge", 18446744073709551615ull},
                                   {"nested", {{"a", 1}}},
                                   {"list", Json::array({1, "b"})},
                                   {"nothing", nullptr}}}}));
    ASSERT_EQ(analytics->entries.size(), 1u);
    const auto& properties = analytics->entries[0].second;
    EXPECT_EQ(properties.at("flag"), AnalyticsValue(true));
    EXPECT_EQ(properties.at("text"), AnalyticsValue(std::string("x")));
    EXPECT_EQ(properties.at("count"), AnalyticsValue(std::int64_t{3}));
    EXPECT_EQ(properties.at("ratio"), AnalyticsValue(2.5));
    EXPECT_EQ(properties.at("huge"), AnalyticsValue(18446744073709551615.0));
    EXPECT_EQ(properties.at("nested"), AnalyticsValue(Json{{"a", 1}}));
    EXPECT_EQ(properties.at("list"), AnalyticsValue(Json::array({1, "b"})));
    EXPECT_EQ(properties.at("nothing"), AnalyticsValue(Json(nullptr)));
}

TEST(WebBridgeAnalyticsWithoutLogger, EventsAreDroppedQuietly) {
    LoadedBridge loaded;
    loaded.bridge->handle(event({{"name", "opened"}}));
    EXPECT_TRUE(loaded.webView->scripts.empty());
}

}  // namespace
}  // namespace pelko::test
