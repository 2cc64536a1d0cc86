// Payload records: key order, absent optionals, empty stacks, dates; the calendar's local days.
#include <gtest/gtest.h>

#include "dashboard/DashboardSnapshot.hpp"
#include "dashboard/GregorianCalendar.hpp"
#include "dashboard/SystemMetricsSnapshot.hpp"

namespace pelko {
namespace {

DashboardProjectSummary sampleSummary() {
    DashboardProjectSummary summary;
    summary.projectId = *Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
    summary.projectName = "demo";
    summary.branch = "main";
    summary.commitCount = 12;
    summary.techStack = {1000, {{"Swift", 750, 0.75}, {"Shell", 250, 0.25}}};
    summary.heatmap = {{*Date::parseIso("2026-03-01T00:00:00Z"), 3}};
    return summary;
}

TEST(DashboardPayloadsTest, SnapshotEncodesKeysInOrderAndRoundTrips) {
    DashboardSnapshot snapshot;
    snapshot.generatedAt = *Date::parseIso("2026-03-01T15:04:05.678Z");
    snapshot.totalCommits = 12;
    snapshot.last30DayCommits = 4;
    snapshot.previous30DayCommits = 3;
    snapshot.last30DayDeltaPercent = 33.3;
    auto summary = sampleSummary();
    summary.lastCommitAt = *Date::parseIso("2026-03-01T09:00:00+09:00");
    snapshot.projectSummaries = {summary};

    EXPECT_EQ(json::encode(snapshot.toJson()),
              R"({"generatedAt":"2026-03-01T15:04:05Z","totalCommits":12,"todaysCommits":0,)"
              R"("last30DayCommits":4,"previous30DayCommits":3,"last30DayDeltaPercent":33.3,)"
              R"("projectSummaries":[{"projectId":"0F8FAD5B-D9CB-469F-A165-70867728950E",)"
              R"("projectName":"demo","branch":"main","commitCount":12,)"
              R"("lastCommitAt":"2026-03-01T00:00:00Z","techStack":{"totalBytes":1000,"languages":[)"
              R"({"name":"Swift","bytes":750,"ratio":0.75},{"name":"Shell","bytes":250,"ratio":0.25}]},)"
              R"("heatmap":[{"date":"2026-03-01T00:00:00Z","count":3}]}]})");

    snapshot.generatedAt = Date::fromSeconds(snapshot.generatedAt.seconds());
    EXPECT_EQ(DashboardSnapshot::fromJson(snapshot.toJson()), snapshot);
}

TEST(DashboardPayloadsTest, AbsentLastCommitAndEmptyStackEncodeWithoutNulls) {
    auto summary = sampleSummary();
    summary.techStack = {};
    Json encoded = summary.toJson();
    EXPECT_FALSE(encoded.contains("lastCommitAt"));
    EXPECT_EQ(json::encode(encoded["techStack"]), R"({"totalBytes":0,"languages":[]})");
    EXPECT_EQ(DashboardProjectSummary::fromJson(encoded), summary);
}

TEST(DashboardPayloadsTest, SystemMetricsSnapshotKeys) {
    SystemMetricsSnapshot sample{*Date::parseIso("2026-03-01T15:04:05Z"), 12.5, 150.0};
    EXPECT_EQ(json::encode(sample.toJson()),
              R"({"timestamp":"2026-03-01T15:04:05Z","cpuPercent":12.5,"memoryMB":150.0})");
    EXPECT_EQ(SystemMetricsSnapshot::fromJson(sample.toJson()), sample);
}

TEST(GregorianCalendarTest, LocalDaysInZonesEastAndWestOfUTC) {
    auto tokyo = *GregorianCalendar::named("Asia/Tokyo");
    Date lateUTC = *Date::parseIso("2026-02-28T16:30:00Z");  // 01:30 on 1 March in Tokyo
    EXPECT_EQ(tokyo.startOfDay(lateUTC), *Date::parseIso("2026-02-28T15:00:00Z"));
    EXPECT_EQ(tokyo.day(lateUTC), (GregorianCalendar::Day{2026, 3, 1}));
    EXPECT_EQ(tokyo.utc().date({2026, 3, 1}), *Date::parseIso("2026-03-01T00:00:00Z"));

    // Los Angeles springs forward on 8 March 2026: that day has 23 hours, and adding days keeps
    // local midnight.
    auto angeles = *GregorianCalendar::named("America/Los_Angeles");
    Date march8 = angeles.startOfDay(*Date::parseIso("2026-03-08T20:00:00Z"));
    EXPECT_EQ(march8, *Date::parseIso("2026-03-08T08:00:00Z"));
    EXPECT_EQ(angeles.addingDays(march8, 1), *Date::parseIso("2026-03-09T07:00:00Z"));
    EXPECT_EQ(angeles.addingDays(*angeles.addingDays(march8, 1), -1), march8);
    EXPECT_FALSE(GregorianCalendar::named("Nowhere/Atlantis"));
}

}  // namespace
}  // namespace pelko
