// Every reader of the checked-out branch and its upstream names them as git has them, also beside a tag
// of the same name, which makes git's own short names ambiguous ("heads/main"). Kept with the dashboard
// tests because this program links both the dashboard and the Git library.
#include <gtest/gtest.h>

#include "dashboard/DashboardMetricsService.hpp"
#include "git/GitTestSupport.hpp"
#include "github/CurlGitHubGraphQLClient.hpp"
#include "support/RoutedHttpServer.hpp"

namespace pelko {
namespace {

using test::GitRepo;

struct OneProject final : DashboardProjectProviding {
    ProjectMetadata project;
    std::vector<ProjectMetadata> listActiveProjects() const override { return {project}; }
};

struct NoLanguages final : DashboardLanguagesProviding {
    LanguageByteCounts fetchLanguages(const ProjectMetadata&) override { return {}; }
};

struct NoAnalytics final : AnalyticsLogging {
    void log(const std::string&, const AnalyticsProperties&) override {}
};

// What each reader reports, as JSON so a mismatch prints whole.
Json readings(const Json& tracking, const Json& branchMap, const std::optional<std::string>& qualifiedName,
              const std::optional<std::string>& remoteURL, const std::string& dashboardBranch) {
    Json current = Json::array();
    for (const auto& node : branchMap["nodes"]) {
        if (node["isCurrent"] == true) current.push_back(node["name"]);
    }
    return Json{{"trackingBranch", tracking.value("branch", "")},
                {"trackingRemote", tracking.value("remote", "")},
                {"mapCurrentBranch", branchMap.value("currentBranch", "")},
                {"mapState", branchMap.value("repositoryState", "")},
                {"mapCurrentNodes", current},
                {"historyRef", qualifiedName.value_or("")},
                {"remoteURL", remoteURL.value_or("")},
                {"dashboardBranch", dashboardBranch}};
}

TEST(CurrentBranchReadersTest, EveryReaderNamesTheCheckedOutBranchBesideATagOfTheSameName) {
    const std::string forkURL = "https://github.com/fork/repo.git";
    const Json onMain = {{"trackingBranch", "main"},    {"trackingRemote", "fork/main"},
                         {"mapCurrentBranch", "main"},  {"mapState", "ready"},
                         {"mapCurrentNodes", {"main"}}, {"historyRef", "refs/heads/main"},
                         {"remoteURL", forkURL},        {"dashboardBranch", "main"}};
    struct Case {
        const char* title;
        std::vector<std::vector<std::string>> setup;
        Json expected;
    };
    const Case cases[] = {
        {"no tag", {}, onMain},
        {"a tag named like the branch", {{"tag", "main"}}, onMain},
        {"a tag named like the upstream", {{"tag", "fork/main"}}, onMain},
        {"detached beside a tag named like the branch",
         {{"tag", "main"}, {"checkout", "-q", "--detach"}},
         {{"trackingBranch", "HEAD"},
          {"trackingRemote", ""},
          {"mapCurrentBranch", ""},
          {"mapState", "detached"},
          {"mapCurrentNodes", Json::array()},
          {"historyRef", ""},
          {"remoteURL", ""},
          {"dashboardBranch", "HEAD"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        test::RoutedHttpServer server;
        server.respond("POST", "/graphql", 200, R"({"data":{"repository":null}})");
        test::GitServiceHarness h{
            "github.com", {}, std::make_shared<CurlGitHubGraphQLClient>(GitHubEndpoints{"", server.base()})};
        h.auth->store(test::tokenRecord("gho_token"));
        // main tracks fork/main, one commit behind it. Without an "origin" the upstream names the remote.
        GitRepo repo;
        repo.commit("one");
        repo.git({"remote", "add", "fork", forkURL});
        repo.git({"update-ref", "refs/remotes/fork/main", "HEAD"});
        repo.git({"branch", "-q", "--set-upstream-to=fork/main"});
        repo.commit("two");
        for (const auto& step : c.setup) repo.git(step);
        Uuid id = h.projects->add(repo.path());

        h.service->fetchRemoteTracking(id);
        h.service->fetchBranchMap(id, 50);
        h.service->fetchCommitHistory(id, std::nullopt, 5, std::nullopt);
        ASSERT_TRUE(h.sink->waitForType("git/history"));
        h.settle();
        auto tracking = h.sink->payloads("git/remote/tracking");
        auto branchMap = h.sink->payloads("git/branch-map");
        ASSERT_EQ(tracking.size(), 1u);
        ASSERT_EQ(branchMap.size(), 1u);
        std::optional<std::string> qualifiedName;
        for (const auto& request : server.requests("/graphql")) {
            qualifiedName = (*json::parse(request.body))["variables"]["qualifiedName"].get<std::string>();
        }

        auto projects = std::make_shared<OneProject>();
        projects->project = test::projectAt(repo.path());
        DashboardMetricsService dashboard(projects, std::make_shared<NoLanguages>(),
                                          std::make_shared<ProcessGitProcessRunner>(),
                                          std::make_shared<NoAnalytics>());
        auto snapshot = dashboard.fetchSnapshot(dashboard.snapshotRequest(true));
        ASSERT_EQ(snapshot.projectSummaries.size(), 1u);

        EXPECT_EQ(
            readings(tracking[0], branchMap[0], qualifiedName,
                     h.service->remoteURL(test::projectAt(repo.path())), snapshot.projectSummaries[0].branch),
            c.expected);
    }
}

}  // namespace
}  // namespace pelko
