#pragma once
// Real repositories for the Git tests: an isolated git configuration (no system file, a global file
// of the test's own), fakes at the Git service's seams, and a sink that records events as JSON.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/GitProjectProviding.hpp"
#include "git/GitCredentialBroker.hpp"
#include "git/GitOutputText.hpp"
#include "git/GitService.hpp"
#include "git/GitServiceEventSink.hpp"
#include "git/ProcessGitProcessRunner.hpp"
#include "github/GitAuthProviding.hpp"
#include "platform/Environment.hpp"
#include "platform/MainQueue.hpp"
#include "support/TestSupport.hpp"

namespace pelko::test {

// The process environment with git's system and user configuration replaced by one test file, and
// without the variables that would choose git's proxy or authorities over its configuration.
inline Environment::Map isolatedGitEnvironment() {
    static const std::filesystem::path config = [] {
        auto path = testRoot() / "gitconfig";
        writeFile(path,
                  "[user]\n\tname = Ada\n\temail = ada@example.com\n"
                  "[init]\n\tdefaultBranch = main\n[protocol \"file\"]\n\tallow = always\n"
                  "[advice]\n\tdetachedHead = false\n");
        return path;
    }();
    auto environment = Environment::process().all();
    environment["GIT_CONFIG_NOSYSTEM"] = "1";
    environment["GIT_CONFIG_GLOBAL"] = config.string();
    for (const char* name : {"GIT_SSL_CAINFO", "GIT_SSL_CAPATH", "GIT_SSL_NO_VERIFY", "http_proxy",
                             "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        environment.erase(name);
    return environment;
}

inline ProjectMetadata projectAt(const std::filesystem::path& root) {
    return ProjectMetadata{Uuid::random(), root.filename().string(), root.string(), std::nullopt, {}};
}

// A folder with git run directly in it, with fixed, increasing commit dates so histories are the same
// on every machine. Every command must succeed unless run with `tryGit`.
class GitRepo {
  public:
    // A repository on branch "main" in a fresh folder of its own (`init` false leaves the folder empty).
    explicit GitRepo(bool init = true) : owned_(std::make_unique<TempDir>()), path_(owned_->path()) {
        if (init) git({"init", "-q"});
    }
    explicit GitRepo(std::filesystem::path path) : path_(std::move(path)) {
        std::filesystem::create_directories(path_);
    }
    // A clone of `origin` (extra clone options such as "--depth" go before the source).
    static GitRepo cloneOf(const GitRepo& origin, std::vector<std::string> options = {}) {
        GitRepo clone(false);
        options.insert(options.begin(), {"clone", "-q"});
        options.insert(options.end(), {"file://" + origin.path().string(), "."});
        clone.git(options);
        return clone;
    }

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

    GitProcessExecutionResult tryGit(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), "git");
        auto environment = isolatedGitEnvironment();
        std::string date = std::to_string(1700000000 + 60 * clock_++) + " +0000";
        environment["GIT_AUTHOR_DATE"] = date;
        environment["GIT_COMMITTER_DATE"] = date;
        return ProcessGitProcessRunner().run(arguments, path_, environment);
    }
    std::string git(const std::vector<std::string>& arguments) const {
        auto result = tryGit(arguments);
        EXPECT_EQ(result.status, 0) << arguments.front() << ": " << result.stderr;
        return result.stdout;
    }
    void write(const std::string& relative, const std::string& contents) const {
        writeFile(path_ / relative, contents);
    }
    void commitAll(const std::string& message) const {
        git({"add", "-A"});
        git({"commit", "-q", "-m", message});
    }
    // Writes the file (by default the message) and commits everything; returns the new commit's oid.
    std::string commit(const std::string& message, const std::string& file = "file.txt",
                       const std::string& text = "") const {
        write(file, text.empty() ? message + "\n" : text);
        commitAll(message);
        return head();
    }
    // What `git rev-list` lists, newest first.
    std::vector<std::string> revList(std::vector<std::string> arguments = {"HEAD"}) const {
        arguments.insert(arguments.begin(), "rev-list");
        std::vector<std::string> oids;
        std::string output = git(arguments);
        for (auto line : GitOutputText::nonEmptyLines(output)) oids.emplace_back(line);
        return oids;
    }
    std::string head() const { return revList({"-1", "HEAD"}).at(0); }

  private:
    std::unique_ptr<TempDir> owned_;
    std::filesystem::path path_;
    mutable int clock_ = 0;
};

struct GitEvent {
    std::string type;
    Json payload;
};

class RecordingGitSink final : public GitServiceEventSink {
  public:
    std::vector<GitEvent> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<Json> payloads(const std::string& type) const {
        std::vector<Json> found;
        for (const auto& event : events()) {
            if (event.type == type) found.push_back(event.payload);
        }
        return found;
    }
    std::vector<std::string> types() const {
        std::vector<std::string> found;
        for (const auto& event : events()) found.push_back(event.type);
        return found;
    }
    // Pumps the main queue (answers given when a request is made go through it) until `count` events
    // arrived.
    bool waitForCount(std::size_t count) const {
        return MainQueue::shared().drainUntil([&] { return events().size() >= count; },
                                              std::chrono::seconds(120));
    }
    bool waitForType(const std::string& type) const {
        return MainQueue::shared().drainUntil([&] { return !payloads(type).empty(); },
                                              std::chrono::seconds(120));
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

    void gitServiceDidUpdateStatus(const GitStatusPayload& p) override { add("git/status", p); }
    void gitServiceDidSucceed(const std::string& m) override {
        add("git/result", Json{{"success", true}, {"message", m}});
    }
    void gitServiceDidFail(const std::string& m) override {
        add("git/result", Json{{"success", false}, {"message", m}});
    }
    void gitServiceDidLoadDiff(const GitDiffPayload& p) override { add("git/diff", p); }
    void gitServiceDidLoadCommitDiff(const GitCommitDiffPayload& p) override { add("git/commit/diff", p); }
    void gitServiceDidLoadWorkingTree(const GitWorkingTreePayload& p) override { add("git/working-tree", p); }
    void gitServiceDidReachRefreshBarrier(const GitRefreshBarrierPayload& p) override {
        add("git/refresh/barrier", p);
    }
    void gitServiceDidLoadBranchMap(const GitBranchMapPayload& p) override { add("git/branch-map", p); }
    void gitServiceDidFailBranchMap(const GitBranchMapErrorPayload& p) override {
        add("git/branch-map/error", p);
    }
    void gitServiceDidLoadCommitHistory(const GitCommitHistoryPayload& p) override { add("git/history", p); }
    void gitServiceDidFailCommitHistory(const GitCommitHistoryErrorPayload& p) override {
        add("git/history/error", p);
    }
    void gitServiceDidLoadCommitGraph(const GitCommitGraphPayload& p) override { add("git/graph", p); }
    void gitServiceDidLoadStatusDetail(const GitStatusDetailPayload& p) override {
        add("git/status/detail", p);
    }
    void gitServiceDidUpdateRemoteTracking(const GitRemoteTrackingPayload& p) override {
        add("git/remote/tracking", p);
    }
    void gitServiceDidUpdateOAuthStatus(const GitOAuthStatusPayload& p) override {
        add("github/oauth/status", p);
    }

  private:
    template <class Payload>
    void add(std::string type, const Payload& payload) {
        add(std::move(type), payload.toJson());
    }
    void add(std::string type, Json payload) {
        std::lock_guard lock(mutex_);
        events_.push_back({std::move(type), std::move(payload)});
    }
    mutable std::mutex mutex_;
    std::vector<GitEvent> events_;
};

class FakeProjects final : public GitProjectProviding {
  public:
    Uuid add(const std::filesystem::path& root) {
        projects_.push_back(projectAt(root));
        return projects_.back().id;
    }
    void setActive(std::optional<Uuid> id) { active_ = id; }
    void remove(const Uuid& id) {
        std::erase_if(projects_, [&](const ProjectMetadata& project) { return project.id == id; });
    }

    AppConfig config() const override {
        EXPECT_TRUE(MainQueue::isMainThread());
        AppConfig config;
        config.activeProjectID = active_;
        return config;
    }
    std::optional<ProjectMetadata> project(const Uuid& id) const override {
        EXPECT_TRUE(MainQueue::isMainThread());
        for (const auto& project : projects_) {
            if (project.id == id) return project;
        }
        return std::nullopt;
    }

  private:
    std::vector<ProjectMetadata> projects_;
    std::optional<Uuid> active_;
};

class FakeAuth final : public GitAuthProviding {
  public:
    void store(std::optional<OAuthTokenRecord> record) {
        std::lock_guard lock(mutex_);
        token_ = std::move(record);
    }
    // Stands for a new sign-in that lands while git runs: from the given load on, a new token is stored.
    void replaceOnLoad(int load, OAuthTokenRecord record) {
        std::lock_guard lock(mutex_);
        replaceAt_ = load;
        replacement_ = std::move(record);
    }
    int deletions() const {
        std::lock_guard lock(mutex_);
        return deletions_;
    }
    std::optional<OAuthTokenRecord> stored() const {
        std::lock_guard lock(mutex_);
        return token_;
    }

    bool hasToken() const override {
        std::lock_guard lock(mutex_);
        return token_.has_value();
    }
    std::optional<OAuthTokenRecord> loadToken() const override {
        std::lock_guard lock(mutex_);
        if (++loads_ == replaceAt_) token_ = replacement_;
        return token_;
    }
    bool deleteToken() override {
        std::lock_guard lock(mutex_);
        ++deletions_;
        token_.reset();
        return true;
    }
    bool deleteTokenIfCurrent(const std::string& accessToken) override {
        std::lock_guard lock(mutex_);
        if (!token_ || token_->accessToken != accessToken) return false;
        ++deletions_;
        token_.reset();
        return true;
    }

  private:
    mutable std::mutex mutex_;
    mutable std::optional<OAuthTokenRecord> token_;
    mutable int loads_ = 0;
    int replaceAt_ = -1;
    OAuthTokenRecord replacement_;
    int deletions_ = 0;
};

inline OAuthTokenRecord tokenRecord(const std::string& accessToken,
                                    std::optional<std::string> login = "octocat") {
    OAuthTokenRecord record;
    record.accessToken = accessToken;
    record.tokenType = "bearer";
    record.accountLogin = std::move(login);
    return record;
}

// Everything queued on `service` so far has run and reported; the main queue is drained meanwhile, since
// answers given when a request is made go through it.
inline void settleGitService(GitService& service) {
    std::atomic<bool> done = false;
    std::thread waiter([&] {
        service.waitUntilIdle();
        done = true;
    });
    MainQueue::shared().drainUntil([&] { return done.load(); }, std::chrono::seconds(120));
    waiter.join();
}

// A Git service over real git, with fakes for the configuration and the token.
struct GitServiceHarness {
    TempDir dir;
    std::shared_ptr<FakeProjects> projects = std::make_shared<FakeProjects>();
    std::shared_ptr<FakeAuth> auth = std::make_shared<FakeAuth>();
    std::shared_ptr<GitCredentialBroker> broker = std::make_shared<GitCredentialBroker>(dir / "credentials");
    std::shared_ptr<RecordingGitSink> sink = std::make_shared<RecordingGitSink>();
    std::shared_ptr<GitService> service;

    explicit GitServiceHarness(std::string gitHubWebBase = "https://github.com",
                               const Environment::Map& extra = {},
                               std::shared_ptr<GitHubGraphQLClient> graphQL = nullptr,
                               SequencedWorkerPool::ThreadStarter startThread = nullptr,
                               std::function<std::chrono::steady_clock::time_point()> clock = nullptr) {
        auto environment = isolatedGitEnvironment();
        for (const auto& [key, value] : extra) environment[key] = value;
        // A bare host name ("github.com") stands for its https address.
        if (gitHubWebBase.find("://") == std::string::npos) gitHubWebBase = "https://" + gitHubWebBase;
        service = std::make_shared<GitService>(
            projects, auth, broker, std::make_shared<ProcessGitProcessRunner>(), std::move(graphQL),
            GitService::Options{.gitHubWebBase = std::move(gitHubWebBase),
                                .environment = environment,
                                .startThread = std::move(startThread),
                                .clock = std::move(clock)});
        service->setEventSink(sink);
    }
    // Everything queued on the service so far has run and reported (the main queue drained meanwhile).
    void settle() { settleGitService(*service); }
};

// A script that writes its process id to `pidFile` (whole, by a rename), then waits until it is killed.
inline void writeHeldScript(const std::filesystem::path& script, const std::filesystem::path& pidFile) {
    writeFile(script, "#!/bin/sh\necho $$ > '" + pidFile.string() + ".tmp'\nmv '" + pidFile.string() +
                          ".tmp' '" + pidFile.string() + "'\nexec sleep 600\n");
    ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
}

// Gone, or a zombie left for its new parent to reap.
inline bool processEnded(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    if (!stat) return true;
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

}  // namespace pelko::test
