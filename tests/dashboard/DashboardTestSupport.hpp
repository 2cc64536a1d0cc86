#pragma once
// Shared pieces of the dashboard tests: real repositories with fixed commit dates, a runner that counts
// and can rewrite `git` answers, and recorders for analytics and page events.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "config/DashboardProjectProviding.hpp"
#include "git/ProcessGitProcessRunner.hpp"
#include "platform/AnalyticsLogging.hpp"
#include "platform/Environment.hpp"
#include "support/TestSupport.hpp"

namespace pelko::test {

// A repository in a temporary folder with isolated configuration. Commits carry the given author and
// committer dates (ISO 8601 with an offset); TZ is fixed to UTC so nothing depends on the machine.
class GitRepository {
  public:
    GitRepository() { git({"init", "-q", "-b", "main"}); }

    const std::filesystem::path& path() const { return folder_.path(); }

    std::string git(const std::vector<std::string>& arguments, const std::string& date = {}) {
        auto environment = Environment::process().all();
        environment["TZ"] = "UTC";
        environment["GIT_CONFIG_NOSYSTEM"] = "1";
        environment["GIT_CONFIG_GLOBAL"] = "/dev/null";
        environment["GIT_AUTHOR_NAME"] = environment["GIT_COMMITTER_NAME"] = "Tester";
        environment["GIT_AUTHOR_EMAIL"] = environment["GIT_COMMITTER_EMAIL"] = "tester@example.com";
        if (!date.empty()) environment["GIT_AUTHOR_DATE"] = environment["GIT_COMMITTER_DATE"] = date;
        std::vector<std::string> command{"git"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        auto result = runner_.run(command, path(), environment);
        EXPECT_EQ(result.status, 0) << result.stderr;
        return result.stdout;
    }
    void commit(const std::string& date, const std::string& message = "change") {
        git({"commit", "-q", "--allow-empty", "-m", message}, date);
    }

  private:
    TempDir folder_;
    ProcessGitProcessRunner runner_;
};

// The real runner, counting its processes; `rewrite` may replace an answer by the command's arguments.
class CountingGitRunner final : public GitProcessRunning {
  public:
    std::function<std::optional<GitProcessExecutionResult>(const std::vector<std::string>&)> rewrite;

    GitProcessExecutionResult run(const std::vector<std::string>& arguments,
                                  const std::filesystem::path& directory,
                                  const std::map<std::string, std::string>& environment) override {
        ++processes;
        if (rewrite) {
            if (auto replaced = rewrite(arguments)) return *replaced;
        }
        return runner_.run(arguments, directory, environment);
    }
    std::atomic<int> processes{0};

  private:
    ProcessGitProcessRunner runner_;
};

struct AnalyticsEvent {
    std::string name;
    AnalyticsProperties properties;

    std::string text(const std::string& key) const {
        auto found = properties.find(key);
        return found == properties.end() ? std::string("<absent>") : std::get<std::string>(found->second);
    }
};

class RecordingAnalytics final : public AnalyticsLogging {
  public:
    void log(const std::string& event, const AnalyticsProperties& properties) override {
        std::lock_guard lock(mutex_);
        events_.push_back({event, properties});
    }
    std::vector<AnalyticsEvent> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const auto& event : events()) result.push_back(event.name);
        return result;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<AnalyticsEvent> events_;
};

class FixedProjects final : public DashboardProjectProviding {
  public:
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
