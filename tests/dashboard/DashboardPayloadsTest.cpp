// Payload records: key order, absent optionals, empty stacks, whole-second dates; local days across a
// daylight-saving change.
#include <gtest/gtest.h>

#include "dashboard/DashboardSnapshot.hpp"
#include "dashboard/GregorianCalendar.hpp"
#include "dashboard/SystemMetricsSnapshot.hpp"

namespace pelko {
namespace {

TEST(DashboardPayloadsTest, RecordsEncodeKeysInOrderAndRoundTrip) {
    auto id = *Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
    DashboardProjectSummary summary{id,
                                    "demo",
                                    "main",
                                    12,
                                    *Date::parseIso("2026-03-01T09:00:00+09:00"),
                                    {1000, {{"Swift", 750, 0.75}, {"Shell", 250, 0.25}}},
                                    {{*Date::parseIso("2026-03-01T00:00:00Z"), 3}}};
    // No last commit and nothing found: the key is left out and the stack is empty, not null.
    DashboardProjectSummary bare{id, "bare", "HEAD", 0, std::nullopt, {}, {}};
    DashboardSnapshot snapshot{
        *Date::parseIso("2026-03-01T15:04:05.678Z"), 12, 0, 4, 3, 33.3, {summary, bare}};

    EXPECT_EQ(json::encode(snapshot.toJson()),
              R"({"generatedAt":"2026-03-01T15:04:05Z","totalCommits":12,"todaysCommits":0,)"
              R"("last30DayCommits":4,"previous30DayCommits":3,"last30DayDeltaPercent":33.3,)"
              R"("projectSummaries":[{"projectId":"0F8FAD5B-D9CB-469F-A165-70867728950E",)"
              R"("projectName":"demo","branch":"main","commitCount":12,)"
              R"("lastCommitAt":"2026-03-01T00:00:00Z","techStack":{"totalBytes":1000,"languages":[)"
              R"({"name":"Swift","bytes":750,"ratio":0.75},{"name":"Shell","bytes":250,"ratio":0.25}]},)"
              R"("heatmap":[{"date":"2026-03-01T00:00:00Z","count":3}]},)"
              R"({"projectId":"0F8FAD5B-D9CB-469F-A165-70867728950E","projectName":"bare","branch":"HEAD",)"
              R"("commitCount":0,"techStack":{"totalBytes":0,"languages":[]},"heatmap":[]}]})");
    snapshot.generatedAt = Date::fromSeconds(snapshot.generatedAt.seconds());
    EXPECT_EQ(DashboardSnapshot::fromJson(snapshot.toJson()), snapshot);

    SystemMetricsSnapshot sample{*Date::parseIso("2026-03-01T15:04:05Z"), 12.5, 150.0};
    EXPECT_EQ(json::encode(sample.toJson()),
              R"({"timestamp":"2026-03-01T15:04:05Z","cpuPercent":12.5,"memoryMB":150.0})");
    EXPECT_EQ(SystemMetricsSnapshot::fromJson(sample.toJson()), sample);
}

TEST(GregorianCalendarTest, DaysAcrossASpringForwardKeepLocalMidnight) {
    // Los Angeles springs forward on 8 March 2026: that day has 23 hours.
    auto angeles = *GregorianCalendar::named("America/Los_Angeles");
    Date march8 = angeles.startOfDay(*Date::parseIso("2026-03-08T20:00:00Z"));
    EXPECT_EQ(march8, *Date::parseIso("2026-03-08T08:00:00Z"));
    EXPECT_EQ(angeles.addingDays(march8, 1), *Date::parseIso("2026-03-09T07:00:00Z"));
    EXPECT_EQ(angeles.addingDays(*angeles.addingDays(march8, 1), -1), march8);
    EXPECT_FALSE(GregorianCalendar::named("Nowhere/Atlantis"));
}

}  // namespace
}  // namespace pelko
