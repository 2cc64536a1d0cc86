// The metrics service on real repositories with fixed commit dates and time zones: window boundaries,
// merges, heatmap cells, empty and missing repositories, the caches and the languages fallbacks; the
// payload records it builds and local days across a daylight-saving change.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>

#include "DashboardTestSupport.hpp"
#include "dashboard/DashboardMetricsService.hpp"
#include "dashboard/SystemMetricsSnapshot.hpp"

namespace pelko {
namespace {

using test::GitRepository;

const auto at = [](const char* text) { return *Date::parseIso(text); };

struct ScriptedLanguages final : DashboardLanguagesProviding {
    LanguageByteCounts answer;
    bool fail = false;
    std::atomic<int> calls{0};
    LanguageByteCounts fetchLanguages(const ProjectMetadata&) override {
        ++calls;
        if (fail) throw std::runtime_error("unauthorized");
        return answer;
    }
};

class MetricsServiceTest : public ::testing::Test {
  protected:
    std::shared_ptr<test::FixedProjects> projects = std::make_shared<test::FixedProjects>();
    std::shared_ptr<ScriptedLanguages> languages = std::make_shared<ScriptedLanguages>();
    std::shared_ptr<test::CountingGitRunner> runner = std::make_shared<test::CountingGitRunner>();
    std::shared_ptr<test::RecordingAnalytics> analytics = std::make_shared<test::RecordingAnalytics>();
    Date now;

    std::unique_ptr<DashboardMetricsService> makeService(const std::string& zone) {
        return std::make_unique<DashboardMetricsService>(
            projects, languages, runner, analytics, [this] { return now; }, *GregorianCalendar::named(zone));
    }
};

TEST_F(MetricsServiceTest, WindowsCountEachBoundaryCommitOnceAndHeatmapSkipsMerges) {
    // Tokyo, late on 10 March 2026: today from 10 March, the last 30 days from 9 February, the 30
    // before from 10 January (local midnights).
    now = at("2026-03-10T23:59:00+09:00");
    GitRepository repository;
    repository.commit("2025-12-01T10:00:00Z");       // all time only
    repository.commit("2026-01-10T00:00:00+09:00");  // start of the previous 30 days
    repository.commit("2026-02-08T23:59:59+09:00");  // last second of the previous 30 days
    repository.commit("2026-02-09T00:00:00+09:00");  // start of the last 30 days, and only there
    repository.git({"checkout", "-q", "-b", "side"});
    repository.commit("2026-03-05T10:00:00+09:00");  // heatmap cell of 5 March
    repository.git({"checkout", "-q", "main"});
    repository.commit("2026-03-10T00:00:00+09:00");  // start of today
    repository.git({"merge", "-q", "--no-ff", "-m", "merge", "side"}, "2026-03-10T12:00:00+09:00");
    repository.commit("2026-03-10T23:30:00+09:00");  // still today
    repository.commit("2026-03-11T00:00:00+09:00");  // start of tomorrow: in no window
    projects->projects = {test::projectAt(repository.path())};

    auto snapshot = test::snapshotOf(*makeService("Asia/Tokyo"), false);
    EXPECT_EQ(std::vector({snapshot.totalCommits, snapshot.todaysCommits, snapshot.last30DayCommits,
                           snapshot.previous30DayCommits}),
              std::vector<std::int64_t>({9, 3, 5, 2}));
    EXPECT_DOUBLE_EQ(snapshot.last30DayDeltaPercent, 150.0);
    EXPECT_EQ(snapshot.generatedAt, now);

    ASSERT_EQ(snapshot.projectSummaries.size(), 1u);
    const auto& summary = snapshot.projectSummaries[0];
    EXPECT_EQ(summary.branch, "main");
    EXPECT_EQ(summary.commitCount, 9);
    EXPECT_EQ(summary.lastCommitAt, at("2026-03-10T15:00:00Z"));
    ASSERT_EQ(summary.heatmap.size(), 28u);
    EXPECT_EQ(summary.heatmap.front().date, at("2026-02-11T00:00:00Z"));
    EXPECT_EQ(summary.heatmap.back().date, at("2026-03-10T00:00:00Z"));
    // One commit on 5 March, two on 10 March: the merge is left out.
    std::vector<std::int64_t> counts(28), expected(28);
    for (std::size_t day = 0; day < 28; ++day) counts[day] = summary.heatmap[day].count;
    expected[22] = 1;
    expected[27] = 2;
    EXPECT_EQ(counts, expected);
}

TEST_F(MetricsServiceTest, WestOfUTCAndEmptyOrMissingRepositories) {
    now = at("2026-02-20T20:00:00-08:00");
    GitRepository west, empty;
    west.commit("2026-02-20T00:30:00-08:00");
    west.commit("2026-02-20T23:30:00-08:00");  // already 21 February in UTC
    test::TempDir parent;
    projects->projects = {test::projectAt(west.path()), test::projectAt(empty.path(), "empty"),
                          test::projectAt(parent / "missing", "missing")};
    auto snapshot = test::snapshotOf(*makeService("America/Los_Angeles"), false);
    ASSERT_EQ(snapshot.projectSummaries.size(), 3u);
    // A cell carries its local date at midnight UTC.
    EXPECT_EQ(snapshot.projectSummaries[0].heatmap.back(),
              (DashboardHeatmapCell{at("2026-02-20T00:00:00Z"), 2}));
    EXPECT_EQ(snapshot.totalCommits, 2);
    for (std::size_t index : {1, 2}) {
        // Same days, no commits, branch "HEAD", no last commit, nothing found.
        DashboardProjectSummary expected{projects->projects[index].id, projects->projects[index].name};
        expected.heatmap = snapshot.projectSummaries[0].heatmap;
        for (auto& cell : expected.heatmap) cell.count = 0;
        EXPECT_EQ(snapshot.projectSummaries[index], expected);
    }
}

// The project list is read on the main thread when the snapshot is asked for; the computation on
// another thread covers that list and finishes while the main thread waits without iterating its loop
// (a worker that hopped to the main thread for it would never finish).
TEST_F(MetricsServiceTest, AComputationCoversItsRequestAndNeverWaitsForTheMainThread) {
    now = at("2026-03-10T12:00:00Z");
    GitRepository first, later;
    first.commit("2026-03-10T09:00:00Z");
    later.commit("2026-03-10T10:00:00Z");
    projects->projects = {test::projectAt(first.path(), "first")};
    auto service = makeService("UTC");
    const auto request = service->snapshotRequest(true);
    projects->projects.push_back(test::projectAt(later.path(), "later"));  // after the request

    auto computed = std::async(std::launch::async, [&] { return service->fetchSnapshot(request); });
    ASSERT_EQ(computed.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    const auto snapshot = computed.get();
    ASSERT_EQ(snapshot.projectSummaries.size(), 1u);
    EXPECT_EQ(snapshot.projectSummaries[0].projectName, "first");
    EXPECT_EQ(snapshot.todaysCommits, 1);
}

TEST(DashboardDeltaTest, OneDecimalPlaceAndAHundredFromNothing) {
    std::vector<double> deltas;
    for (auto [last30, previous30] : std::vector<std::pair<std::int64_t, std::int64_t>>{
             {5, 0}, {0, 0}, {12, 9}, {3, 4}, {0, 7}, {2, 3}, {5, 8}}) {
        deltas.push_back(DashboardMetricsService::deltaPercent(last30, previous30));
    }
    EXPECT_EQ(deltas, (std::vector<double>{100, 0, 33.3, -25, -100, -33.3, -37.5}));
}

TEST_F(MetricsServiceTest, SnapshotCacheHoldsFiveMinutesAcrossMidnightUnlessForced) {
    now = at("2026-03-10T23:59:00Z");
    GitRepository repository;
    repository.commit("2026-03-10T09:00:00Z");
    projects->projects = {test::projectAt(repository.path())};
    auto service = makeService("UTC");

    auto first = test::snapshotOf(*service, false);
    int processes = runner->processes;
    EXPECT_EQ(processes, 7);
    EXPECT_EQ(first.todaysCommits, 1);

    now = at("2026-03-11T00:01:00Z");
    EXPECT_EQ(test::snapshotOf(*service, false), first);
    EXPECT_EQ(runner->processes, processes);

    auto forced = test::snapshotOf(*service, true);
    EXPECT_EQ(forced.todaysCommits, 0);
    EXPECT_EQ(forced.generatedAt, now);

    now = at("2026-03-11T00:05:59Z");
    EXPECT_EQ(test::snapshotOf(*service, false), forced);
    now = at("2026-03-11T00:06:00Z");
    EXPECT_EQ(test::snapshotOf(*service, false).generatedAt, now);
}

TEST_F(MetricsServiceTest, TechStackSourcesAndCache) {
    now = at("2026-03-10T12:00:00Z");
    test::TempDir folder;
    test::writeFile(folder / "main.go", std::string(3000, 'g'));
    auto project = test::projectAt(folder.path(), "gadget");
    projects->projects = {project};
    auto service = makeService("UTC");
    auto techStack = [&](bool force) {
        return test::snapshotOf(*service, force).projectSummaries.at(0).techStack;
    };
    const std::string ids = "projectId=" + project.id.string() + " projectName=gadget reason=";

    // The remote answer wins.
    languages->answer = {{"Swift", 900}, {"Shell", 100}};
    auto stack = techStack(false);
    EXPECT_EQ(stack.languages.at(0).name, "Swift");

    // A failure while a fresh entry exists, forced: the cached stack, and the event still logged.
    languages->fail = true;
    now = at("2026-03-10T12:01:00Z");
    EXPECT_EQ(techStack(true), stack);
    EXPECT_EQ(analytics->events, std::vector<std::string>{
                                     "dashboard_languages_unavailable error=unauthorized " + ids + "error"});

    // Once the entry has expired, the failure falls back to the local walk.
    now = at("2026-03-10T12:10:00Z");
    auto local = techStack(true);
    ASSERT_EQ(local.languages.size(), 1u);
    EXPECT_EQ(local.languages[0].name, "Go");

    // An empty answer is logged without an error text and also falls back.
    languages->fail = false;
    languages->answer = {};
    now = at("2026-03-10T12:20:00Z");
    EXPECT_EQ(techStack(true), local);
    EXPECT_EQ(analytics->events.back(), "dashboard_languages_unavailable " + ids + "empty_response");

    // When both caches have expired, an unforced snapshot asks again.
    int calls = languages->calls;
    now = at("2026-03-10T12:30:00Z");
    languages->answer = {{"Rust", 1}};
    EXPECT_EQ(techStack(false).languages.at(0).name, "Rust");
    EXPECT_EQ(languages->calls, calls + 1);
}

TEST(DashboardPayloadsTest, RecordsEncodeKeysInOrderAndRoundTrip) {
    auto id = *Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
    DashboardProjectSummary summary{id, "demo", "main", 12, at("2026-03-01T09:00:00+09:00")};
    summary.techStack = {1000, {{"Swift", 750, 0.75}, {"Shell", 250, 0.25}}};
    summary.heatmap = {{at("2026-03-01T00:00:00Z"), 3}};
    // No last commit and nothing found: the key is left out and the stack is empty, not null.
    DashboardProjectSummary bare{id, "bare", "HEAD", 0, std::nullopt, {}, {}};
    DashboardSnapshot snapshot{at("2026-03-01T15:04:05.678Z"), 12, 0, 4, 3, 33.3, {summary, bare}};

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

    SystemMetricsSnapshot sample{at("2026-03-01T15:04:05Z"), 12.5, 150.0};
    EXPECT_EQ(json::encode(sample.toJson()),
              R"({"timestamp":"2026-03-01T15:04:05Z","cpuPercent":12.5,"memoryMB":150.0})");
    EXPECT_EQ(SystemMetricsSnapshot::fromJson(sample.toJson()), sample);
}

TEST(GregorianCalendarTest, DaysAcrossASpringForwardKeepLocalMidnight) {
    // Los Angeles springs forward on 8 March 2026: that day has 23 hours.
    auto angeles = *GregorianCalendar::named("America/Los_Angeles");
    Date march8 = angeles.startOfDay(at("2026-03-08T20:00:00Z"));
    EXPECT_EQ(march8, at("2026-03-08T08:00:00Z"));
    EXPECT_EQ(angeles.startOfDay(march8, 1), at("2026-03-09T07:00:00Z"));
    EXPECT_EQ(angeles.startOfDay(*angeles.startOfDay(march8, 1), -1), march8);
    EXPECT_FALSE(GregorianCalendar::named("Nowhere/Atlantis"));
}

// Havana changes its clocks at midnight: on 12 March 2023 from 00:00 straight to 01:00, on 5 November
// 2023 from 01:00 back to 00:00, so that day's first hour comes twice.
TEST(GregorianCalendarTest, DaysStartAtTheFirstMidnightOrAfterASkippedOne) {
    auto havana = *GregorianCalendar::named("America/Havana");
    const Date november5 = at("2023-11-05T00:00:00-04:00");
    for (const char* instant :
         {"2023-11-05T00:00:00-04:00", "2023-11-05T00:30:00-04:00", "2023-11-05T00:00:00-05:00",
          "2023-11-05T00:30:00-05:00", "2023-11-05T23:59:59-05:00"}) {
        EXPECT_EQ(havana.startOfDay(at(instant)), november5) << instant;
    }
    EXPECT_EQ(havana.date({2023, 11, 5}), november5);
    EXPECT_EQ(havana.startOfDay(at("2023-11-04T23:59:59-04:00")), at("2023-11-04T00:00:00-04:00"));
    EXPECT_EQ(havana.startOfDay(at("2023-11-06T12:00:00-05:00"), -1), november5);
    EXPECT_EQ(havana.startOfDay(at("2023-12-04T12:00:00-05:00"), -29), november5);
    EXPECT_EQ(havana.startOfDay(november5, 1), at("2023-11-06T00:00:00-05:00"));

    const Date march12 = at("2023-03-12T01:00:00-04:00");
    EXPECT_EQ(havana.date({2023, 3, 12}), march12);
    EXPECT_EQ(havana.startOfDay(at("2023-03-12T12:00:00-04:00")), march12);
    EXPECT_EQ(havana.startOfDay(at("2023-03-11T23:59:59-05:00")), at("2023-03-11T00:00:00-05:00"));
    EXPECT_EQ(havana.startOfDay(at("2023-03-11T12:00:00-05:00"), 1), march12);
    EXPECT_EQ(havana.startOfDay(at("2023-04-10T12:00:00-04:00"), -29), march12);
    EXPECT_EQ(havana.startOfDay(march12, 1), at("2023-03-13T00:00:00-04:00"));
}

TEST_F(MetricsServiceTest, HavanaDaysAndWindowsKeepTheFirstHourOfADayThatRepeatsIt) {
    GitRepository repository;
    repository.commit("2023-03-11T23:59:59-05:00");  // the day before the skipped midnight
    repository.commit("2023-03-12T01:00:00-04:00");  // its day's first second
    repository.commit("2023-11-04T23:59:59-04:00");  // the day before the repeated hour
    repository.commit("2023-11-05T00:10:00-04:00");  // its first pass
    repository.commit("2023-11-05T00:10:00-05:00");  // its second pass
    repository.commit("2023-11-05T11:00:00-05:00");
    projects->projects = {test::projectAt(repository.path())};
    auto counts = [&](const char* when) {
        now = at(when);
        auto snapshot = test::snapshotOf(*makeService("America/Havana"), true);
        return std::vector(
            {snapshot.todaysCommits, snapshot.last30DayCommits, snapshot.previous30DayCommits});
    };

    EXPECT_EQ(counts("2023-11-05T12:00:00-05:00"), std::vector<std::int64_t>({3, 4, 0}));
    // The last 30 days start on 5 November, the 30 before them end with 4 November.
    EXPECT_EQ(counts("2023-12-04T12:00:00-05:00"), std::vector<std::int64_t>({0, 3, 1}));
    EXPECT_EQ(counts("2023-03-12T12:00:00-04:00"), std::vector<std::int64_t>({1, 2, 0}));
    EXPECT_EQ(counts("2023-04-10T12:00:00-04:00"), std::vector<std::int64_t>({0, 1, 1}));

    // A heatmap whose first cell is 5 November counts its first hour there.
    now = at("2023-12-02T12:00:00-05:00");
    auto snapshot = test::snapshotOf(*makeService("America/Havana"), true);
    const auto& heatmap = snapshot.projectSummaries.at(0).heatmap;
    ASSERT_EQ(heatmap.size(), 28u);
    EXPECT_EQ(heatmap.front(), (DashboardHeatmapCell{at("2023-11-05T00:00:00Z"), 3}));
    EXPECT_EQ(heatmap.back().date, at("2023-12-02T00:00:00Z"));
}

}  // namespace
}  // namespace pelko
