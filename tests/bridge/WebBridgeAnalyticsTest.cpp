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
    void SetUp() override { loaded.bridge->configure({.analyticsLogger = analytics}); }

    LoadedBridge loaded;
    std::shared_ptr<FakeAnalytics> analytics = std::make_shared<FakeAnalytics>();
};

TEST_F(WebBridgeAnalytics, OnlyNamedEventsAreLoggedAndUnusablePropertiesAreLeftOut) {
    for (const Json& payload :
         {Json{{"name", "opened"}}, Json{{"name", " "}, {"properties", Json::array({1, 2})}},
          Json{{"name", "s"}, {"properties", "text"}}, Json{{"name", "n"}, {"properties", 3}},
          Json{{"name", "z"}, {"properties", nullptr}}, Json{{"name", ""}}, Json{{"name", 5}},
          Json{{"properties", {{"a", 1}}}}, Json::object()})
        loaded.bridge->handle(event(payload));
    loaded.bridge->handle(Json{{"type", "analytics/event"}});
    std::vector<std::string> names;
    for (const auto& entry : analytics->entries) {
        names.push_back(entry.first);
        EXPECT_TRUE(entry.second.empty()) << entry.first;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"opened", " ", "s", "n", "z"}));
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

// Built from text: copying a deep value would itself recurse.
Json deepEvent(std::size_t depth) {
    std::string text = R"({"type":"analytics/event","payload":{"name":"deep","properties":{"kept":1,"deep":)";
    text += std::string(depth, '[') + std::string(depth, ']') + "}}}";
    return json::parse(text).value();
}

TEST_F(WebBridgeAnalytics, PropertiesNestedDeeperThanTheBoundAreLeftOut) {
    for (std::size_t depth : {json::maxValueDepth, json::maxValueDepth + 1, std::size_t{100'000}}) {
        analytics->entries.clear();
        loaded.bridge->handle(deepEvent(depth));
        ASSERT_EQ(analytics->entries.size(), 1u) << depth;
        const auto& properties = analytics->entries[0].second;
        EXPECT_EQ(properties.at("kept"), AnalyticsValue(std::int64_t{1}));
        EXPECT_EQ(properties.count("deep"), depth <= json::maxValueDepth ? 1u : 0u) << depth;
    }
}

TEST(WebBridgeAnalyticsWithoutLogger, EventsAreDroppedQuietly) {
    LoadedBridge loaded;
    loaded.bridge->handle(event({{"name", "opened"}}));
    EXPECT_TRUE(loaded.webView->scripts.empty());
}

}  // namespace
}  // namespace pelko::test
