#pragma once
// Shared pieces of the dashboard tests: repositories with chosen commit dates, a counting runner, the
// project list and an analytics recorder.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "config/DashboardProjectProviding.hpp"
#include "dashboard/DashboardMetricsServicing.hpp"
#include "git/ProcessGitProcessRunner.hpp"
#include "platform/AnalyticsLogging.hpp"
#include "platform/Environment.hpp"
#include "support/TestSupport.hpp"

namespace pelko::test {

// A repository with isolated configuration; TZ is UTC so nothing depends on the machine. A commit's
// author and committer date is the given ISO 8601 text.
class GitRepository {
  public:
    GitRepository() { git({"init", "-q", "-b", "main"}); }
    const std::filesystem::path& path() const { return folder_.path(); }

    void git(const std::vector<std::string>& arguments, const std::string& date = {}) {
        auto environment = Environment::process().all();
        environment["TZ"] = "UTC";
        environment["GIT_CONFIG_NOSYSTEM"] = "1";
        environment["GIT_CONFIG_GLOBAL"] = "/dev/null";
        environment["GIT_AUTHOR_NAME"] = environment["GIT_COMMITTER_NAME"] = "Tester";
        environment["GIT_AUTHOR_EMAIL"] = environment["GIT_COMMITTER_EMAIL"] = "tester@example.com";
        if (!date.empty()) environment["GIT_AUTHOR_DATE"] = environment["GIT_COMMITTER_DATE"] = date;
        std::vector<std::string> command{"git"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        auto result = ProcessGitProcessRunner().run(command, path(), environment);
        EXPECT_EQ(result.status, 0) << result.stderr;
    }
    void commit(const std::string& date) { git({"commit", "-q", "--allow-empty", "-m", "change"}, date); }

  private:
    TempDir folder_;
};

// The real runner, counting its processes.
struct CountingGitRunner final : GitProcessRunning {
    std::atomic<int> processes{0};

    GitProcessExecutionResult run(const std::vector<std::string>& arguments,
                                  const std::filesystem::path& directory,
                                  const std::map<std::string, std::string>& environment) override {
        ++processes;
        return ProcessGitProcessRunner().run(arguments, directory, environment);
    }
};

// Each event as "name key=value ..." (every dashboard property is text; keys in order).
struct RecordingAnalytics final : AnalyticsLogging {
    std::mutex mutex;
    std::vector<std::string> events;  // read once the work that logs has ended

    void log(const std::string& event, const AnalyticsProperties& properties) override {
        std::string line = event;
        for (const auto& [key, value] : properties) line += " " + key + "=" + std::get<std::string>(value);
        std::lock_guard lock(mutex);
        events.push_back(line);
    }
};

// A snapshot asked for and computed on the calling thread, the main thread of a test.
inline DashboardSnapshot snapshotOf(DashboardMetricsServicing& service, bool forceRefresh) {
    return service.fetchSnapshot(service.snapshotRequest(forceRefresh));
}

struct FixedProjects final : DashboardProjectProviding {
    std::vector<ProjectMetadata> projects;
    std::vector<ProjectMetadata> listActiveProjects() const override { return projects; }
};

inline ProjectMetadata projectAt(const std::filesystem::path& folder, const std::string& name = "demo") {
    ProjectMetadata project;
    project.id = Uuid::random();
    project.name = name;
    project.rootPath = folder.string();
    return project;
}

}  // namespace pelko::test
