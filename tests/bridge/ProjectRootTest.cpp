// One configured root names one folder in every subsystem: files, explorer, terminal, Git, local
// history, branch map, dashboard and preview tabs.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "bridge/ProjectFileOperations.hpp"
#include "config/ConfigStore.hpp"
#include "config/PreviewTabsPersistenceService.hpp"
#include "dashboard/DashboardLanguagesProvider.hpp"
#include "explorer/ExplorerService.hpp"
#include "git/GitBranchMapProvider.hpp"
#include "git/GitCredentialBroker.hpp"
#include "git/GitLocalHistoryProvider.hpp"
#include "git/GitService.hpp"
#include "git/GitTestSupport.hpp"
#include "git/ProcessGitProcessRunner.hpp"
#include "platform/MainQueue.hpp"
#include "platform/XdgFolders.hpp"
#include "support/TestSupport.hpp"
#include "terminal/PTYDriver.hpp"
#include "terminal/TerminalCoordinator.hpp"
#include "terminal/TerminalLogger.hpp"

namespace fs = std::filesystem;

namespace pelko {
namespace {

// Real git, with the folder of every run kept.
struct FolderRecordingRunner final : GitProcessRunning {
    std::mutex mutex;
    std::set<std::string> folders;

    GitProcessExecutionResult run(const std::vector<std::string>& arguments, const fs::path& directory,
                                  const std::map<std::string, std::string>& environment) override {
        {
            std::lock_guard lock(mutex);
            folders.insert(directory.string());
        }
        return ProcessGitProcessRunner().run(arguments, directory, environment);
    }
    // The one folder of the runs since the last call, or what went wrong.
    std::string take() {
        std::lock_guard lock(mutex);
        std::string result =
            folders.size() == 1 ? *folders.begin() : "(" + std::to_string(folders.size()) + " folders)";
        folders.clear();
        return result;
    }
};

struct NoToken final : GitAuthProviding {
    bool hasToken() const override { return false; }
    std::optional<OAuthTokenRecord> loadToken() const override { return std::nullopt; }
    bool deleteToken() override { return true; }
};

struct CreatedSessions final : TerminalCoordinatorDelegate {
    std::vector<std::string> folders;
    void terminalCoordinatorDidCreateSession(const TerminalSessionInfo& info) override {
        folders.push_back(info.workingDirectory);
    }
    void terminalCoordinatorDidUpdateStatus(const TerminalSessionStatus&, const Uuid&,
                                            std::optional<std::int32_t>) override {}
    void terminalCoordinatorDidReceiveOutput(std::span<const std::uint8_t>, const Uuid&,
                                             std::function<void()> onDelivered) override {
        onDelivered();
    }
};

class ProjectRootTest : public ::testing::Test {
  protected:
    void SetUp() override { terminal->setDelegate(sessions); }
    void TearDown() override {
        terminal->terminateAll();
        MainQueue::shared().drain();
    }

    void configureRoot(const std::string& rootPath) {
        store->update(false, [&](AppConfig& config) {
            config.projects = {ProjectMetadata{projectId, "demo", rootPath, std::nullopt, {}}};
            config.activeProjectID = projectId;
            config.cliSessions.clear();
        });
    }

    // Each subsystem's folder for the configured root.
    std::map<std::string, std::string> foldersFor(const std::string& rootPath) {
        configureRoot(rootPath);
        ProjectMetadata project = *store->project(projectId);
        std::map<std::string, std::string> found;

        auto root = files.projectRoot(rootPath);
        found["files"] = root ? root->string() : "(none)";

        fs::path watched;
        ExplorerService explorer(ExplorerService::defaultDebounceInterval, nullptr, nullptr,
                                 [&](const fs::path& path, const ExplorerExclusionRules&) {
                                     watched = path;
                                     return std::unique_ptr<ExplorerEventWatching>();
                                 });
        explorer.activateMonitoring(projectId, rootPath, {}, [](const ExplorerChangeBatch&) {});
        found["explorer"] = watched.string();

        sessions->folders.clear();
        CLISessionConfig session = store->addCLISession(std::nullopt, projectId);
        session.shell = "/bin/sh";
        terminal->startSession(session);
        found["terminal"] = sessions->folders.empty() ? "(none)" : sessions->folders.back();
        terminal->terminateAll();

        runner->take();
        git->refreshStatus(projectId);
        test::settleGitService(*git);
        found["git"] = runner->take();

        history.loadHistory(project, 0, 1);
        found["localHistory"] = runner->take();
        branchMap.loadBranchMap(project, 10);
        found["branchMap"] = runner->take();

        EXPECT_THROW(dashboard.fetchLanguages(project), DashboardLanguagesProvider::ProviderError);
        found["dashboard"] = runner->take();

        // The tab's file lies only in the files' folder: no warning means the root was that folder.
        found["previewTabs"] = "(no root)";
        if (root) {
            const std::string marker = "marker-" + Uuid::random().string();
            test::writeFile(*root / marker, "x");
            EXPECT_FALSE(
                previewTabs.persist(PreviewTabsState{std::nullopt, {{marker, marker, marker}}}, project));
            found["previewTabs"] =
                previewTabs.hydrateSnapshot(project).warnings.empty() ? root->string() : "(tab file missing)";
        }
        return found;
    }

    void expectEverywhere(const std::string& rootPath, const fs::path& expected) {
        for (const auto& [subsystem, folder] : foldersFor(rootPath))
            EXPECT_EQ(folder, expected.string()) << subsystem << " for root \"" << rootPath << "\"";
    }

    test::TempDir dir;
    Uuid projectId = Uuid::random();
    std::shared_ptr<ConfigStore> store = std::make_shared<ConfigStore>(dir / "data");
    std::shared_ptr<FolderRecordingRunner> runner = std::make_shared<FolderRecordingRunner>();
    ProjectFileOperations files;
    std::shared_ptr<CreatedSessions> sessions = std::make_shared<CreatedSessions>();
    std::shared_ptr<TerminalCoordinator> terminal = std::make_shared<TerminalCoordinator>(
        std::make_shared<PTYDriver>(), std::make_shared<TerminalLogger>(dir / "terminal.log"), nullptr);
    std::shared_ptr<GitService> git = std::make_shared<GitService>(
        store, std::make_shared<NoToken>(), std::make_shared<GitCredentialBroker>(dir / "credentials"),
        runner, nullptr, GitService::Options{});
    GitLocalHistoryProvider history{runner};
    GitBranchMapProvider branchMap{runner};
    DashboardLanguagesProvider dashboard{std::make_shared<NoToken>(), runner, GitHubEndpoints{}};
    PreviewTabsPersistenceService previewTabs{dir / "data"};
};

TEST_F(ProjectRootTest, EverySubsystemTakesTheSameFolderForOneRoot) {
    const fs::path home = XdgFolders::process().home;
    fs::create_directories(dir / "plain");
    fs::create_directories(home / "under-home");
    fs::create_directories(dir / "slash");
    fs::create_directories(dir / "target");
    fs::create_directory_symlink(dir / "target", dir / "link");
    fs::create_directories(dir / "nested" / "deeper");
    fs::create_directory_symlink(dir / "nested", dir / "via");

    const std::pair<std::string, fs::path> cases[] = {
        {(dir / "plain").string(), dir / "plain"},
        {"~/under-home", home / "under-home"},
        {"~//under-home/", home / "under-home"},
        {(dir / "slash").string() + "/", dir / "slash"},
        {(dir / "slash").string() + "//./", dir / "slash"},
        {(dir / "link").string(), dir / "target"},
        {(dir / "link").string() + "/", dir / "target"},
        {(dir / "via" / "deeper").string(), dir / "nested" / "deeper"},
    };
    for (const auto& [rootPath, expected] : cases) expectEverywhere(rootPath, expected);
}

TEST_F(ProjectRootTest, ARootThatVanishedAndCameBackIsFoundAgain) {
    const fs::path root = dir / "comes-back";
    fs::create_directories(root);
    expectEverywhere(root.string(), root);

    fs::remove_all(root);
    foldersFor(root.string());

    // It comes back as a link to another folder: whatever was kept from before would show.
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", root);
    expectEverywhere(root.string(), dir / "elsewhere");
    expectEverywhere("~/../" + fs::relative(root, XdgFolders::process().home.parent_path()).string(),
                     dir / "elsewhere");
}

}  // namespace
}  // namespace pelko
