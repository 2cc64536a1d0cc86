#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>

#include "config/ConfigStore.hpp"
#include "platform/SystemLogger.hpp"
#include "support/TestSupport.hpp"

namespace fs = std::filesystem;

namespace pelko {
namespace {

class ConfigStoreTest : public ::testing::Test {
  protected:
    ConfigStoreTest() {
        fs::create_directories(home);
        fs::create_directories(work);
    }

    // Collects what the store publishes from now on (the subscriber's first, current value dropped).
    void record(ConfigStore& store) {
        subscription = store.subscribe([this](const AppConfig& config) { published.push_back(config); });
        published.clear();
    }

    fs::path folder(const fs::path& path) {
        fs::create_directories(path);
        return path;
    }

    std::string fileText() { return test::readFile(storage / "config.json"); }

    // A store over `storage` whose first bootstrap wrote the normalised default.
    ConfigStore& bootstrapped() {
        stores.push_back(std::make_unique<ConfigStore>(storage));
        EXPECT_FALSE(stores.back()->bootstrap());
        return *stores.back();
    }

    // The copies of unreadable files kept beside config.json.
    std::vector<fs::path> corruptCopies() {
        std::vector<fs::path> kept;
        for (const auto& entry : fs::directory_iterator(storage)) {
            if (entry.path().filename().string().starts_with("config.json.corrupt-"))
                kept.push_back(entry.path());
        }
        return kept;
    }

    test::TempDir dir;
    fs::path storage = dir / "data";
    fs::path home = XdgFolders::process().home;
    fs::path work = dir / "work";
    std::vector<std::unique_ptr<ConfigStore>> stores;
    std::vector<AppConfig> published;
    Subscription subscription;
};

TEST_F(ConfigStoreTest, ConstructionHoldsTheBuiltInDefaultAndReadsNothing) {
    test::writeFile(storage / "config.json", "{}");
    ConfigStore store(storage);
    EXPECT_EQ(store.filePath(), storage / "config.json");
    AppConfig expected = AppConfig::builtInDefault(home.string());
    ASSERT_EQ(store.config().cliSessions.size(), 1u);
    expected.cliSessions[0].id = store.config().cliSessions[0].id;  // the one random part
    EXPECT_EQ(store.config(), expected);

    fs::path fresh = dir / "fresh" / "nested";
    ConfigStore created(fresh);
    EXPECT_TRUE(fs::is_directory(fresh));
    EXPECT_FALSE(fs::exists(fresh / "config.json"));
}

TEST_F(ConfigStoreTest, FirstBootstrapWritesTheNormalisedDefault) {
    ConfigStore store(storage);
    EXPECT_FALSE(store.bootstrap());
    EXPECT_EQ(
        fileText(),
        R"({"projects":[],"activeProjectID":null,"columnLayout":{"order":["explorer","preview","editor","terminal"]},"cliSessions":[],"features":["terminal.v2"]})");
    EXPECT_TRUE(store.config().projects.empty());
}

TEST_F(ConfigStoreTest, BootstrapLoadsThroughTheDefaultsPassWithoutRewriting) {
    const auto& sample = ProjectMetadata::samples().front();
    std::string text =
        R"({"projects":[{"id":")" + sample.id.string() +
        R"(","name":"s","rootPath":"/x"}],"cliSessions":[{"id":"DDDDDDDD-0000-4000-8000-000000000004","title":"t","workingDirectory":"/w","shell":"/bin/zsh","projectId":")" +
        sample.id.string() + R"("}]})";
    test::writeFile(storage / "config.json", text);
    ConfigStore store(storage);
    EXPECT_FALSE(store.bootstrap());
    EXPECT_TRUE(store.config().projects.empty());
    EXPECT_FALSE(store.config().activeProjectID);
    EXPECT_TRUE(store.config().cliSessions.empty());
    EXPECT_EQ(fileText(), text);
}

TEST_F(ConfigStoreTest, UpdatePublishesEachStepInOrderAndAlwaysSaves) {
    ConfigStore& store = bootstrapped();
    auto a = store.openProjects({folder(work / "a")});
    ASSERT_EQ(a.size(), 1u);
    record(store);
    fs::remove(storage / "config.json");

    store.update(true, [](AppConfig& config) {
        config.resumeProjects.clear();
        config.enabledFeatures.clear();
    });
    ASSERT_EQ(published.size(), 3u);
    EXPECT_TRUE(published[0].resumeProjects.empty());  // the mutation as made
    EXPECT_TRUE(published[0].enabledFeatures.empty());
    EXPECT_EQ(published[1].enabledFeatures.size(), 1u);             // the defaults pass
    EXPECT_EQ(published[2].resumeProjects, published[2].projects);  // the resume copy
    EXPECT_EQ(store.config(), published.back());
    EXPECT_EQ(AppConfig::fromJson(*json::parse(fileText()), home.string()), published.back());

    published.clear();
    fs::remove(storage / "config.json");
    store.update(false, [](AppConfig&) {});
    EXPECT_EQ(published.size(), 2u);  // mutation and resume copy, no defaults pass
    EXPECT_TRUE(fs::exists(storage / "config.json"));

    published.clear();
    store.update(false, [](AppConfig& config) { config.projects.clear(); });
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published[0].resumeProjects, a);  // an empty project list leaves the resume list alone
}

TEST_F(ConfigStoreTest, UnwritableFolderStillChangesAndPublishes) {
    test::writeFile(dir / "blocked", "a file where the folder should be");
    ConfigStore store(dir / "blocked" / "pelko");
    auto error = store.bootstrap();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, ConfigStoreError::Code::writeFailed);
    EXPECT_TRUE(store.config().projects.empty());  // the default was published before the write failed
    record(store);
    CLISessionConfig session = store.addCLISession("x", std::nullopt);
    EXPECT_FALSE(published.empty());
    EXPECT_EQ(store.config().cliSessions.back(), session);
}

// Fault mended: a change that could not be written was kept in memory and reported to nobody.
TEST_F(ConfigStoreTest, FailedSavesAreLoggedAndTheNextChangeWritesAgain) {
    LogCapture logs;
    test::writeFile(dir / "blocked", "a file where the folder should be");
    ConfigStore store(dir / "blocked" / "pelko");
    ASSERT_TRUE(store.bootstrap());
    store.reorderProjects({Uuid::random()});
    auto entries = logs.entries("app.pelko.config", "persistence");
    ASSERT_EQ(entries.size(), 2u);
    for (const auto& entry : entries) {
        EXPECT_EQ(entry.level, LogLevel::error);
        EXPECT_TRUE(entry.message.starts_with("config: failed to save config.json")) << entry.message;
    }

    fs::remove(dir / "blocked");
    fs::create_directories(dir / "blocked" / "pelko");
    logs.clear();
    store.addCLISession("kept", std::nullopt);
    const auto saved = json::parse(test::readFile(dir / "blocked" / "pelko" / "config.json"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(AppConfig::fromJson(*saved, home.string()), store.config());
    entries = logs.entries("app.pelko.config", "persistence");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].level, LogLevel::notice);
    EXPECT_EQ(entries[0].message, "config: config.json saved again after 2 failed saves");
}

// Fault mended: a folder whose path is not UTF-8 was stored with U+FFFD and no longer resolved after
// a restart. It is refused with a log line; the file stays valid JSON.
TEST_F(ConfigStoreTest, FoldersWhosePathIsNotUtf8AreRefused) {
    ConfigStore& store = bootstrapped();
    const std::string before = fileText();
    const fs::path bad = folder(work / "caf\xE9");
    LogCapture logs;
    record(store);
    EXPECT_TRUE(store.openProjects({bad}).empty());
    EXPECT_TRUE(published.empty());
    EXPECT_EQ(fileText(), before);
    auto entries = logs.entries("app.pelko.config", "persistence");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].level, LogLevel::error);
    EXPECT_NE(entries[0].message.find("caf\\351"), std::string::npos) << entries[0].message;
    EXPECT_NE(entries[0].message.find("not valid UTF-8"), std::string::npos);

    auto opened = store.openProjects({bad, folder(work / "good")});
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].name, "good");
    EXPECT_TRUE(json::parse(fileText()));
}

// Fault mended: temporary files of saves killed midway stayed for ever.
TEST_F(ConfigStoreTest, ConstructionSweepsTemporariesOfInterruptedSaves) {
    test::writeFile(storage / ".config.json.tmp-Ab12Cd", R"({"proj)");
    test::writeFile(storage / ".config.json.tmp-fresh1", R"({"proj)");
    const timespec old[2] = {{0, UTIME_OMIT}, {time(nullptr) - 3600, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (storage / ".config.json.tmp-Ab12Cd").c_str(), old, 0), 0);
    ConfigStore store(storage);
    EXPECT_FALSE(fs::exists(storage / ".config.json.tmp-Ab12Cd"));
    EXPECT_TRUE(fs::exists(storage / ".config.json.tmp-fresh1"));  // may belong to a write in flight
}

// Text that fails to decode, whether valid JSON or not, survives beside the file the next save writes.
TEST_F(ConfigStoreTest, UnreadableFileIsKeptAsideBeforeTheFirstSave) {
    for (const std::string broken : {R"({"features":["terminal.v3"],"projects":[]})", R"({"projects": [)"}) {
        fs::remove_all(storage);
        test::writeFile(storage / "config.json", broken);
        ConfigStore store(storage);
        auto error = store.bootstrap();
        ASSERT_TRUE(error) << broken;
        EXPECT_EQ(error->code, ConfigStoreError::Code::decodeFailed) << broken;
        EXPECT_EQ(store.config().projects, ProjectMetadata::samples());
        EXPECT_EQ(fileText(), broken);  // loading never repairs the file

        store.setActiveProject(ProjectMetadata::samples()[1].id);
        store.setActiveProject(ProjectMetadata::samples()[2].id);
        auto kept = corruptCopies();
        ASSERT_EQ(kept.size(), 1u) << broken;
        EXPECT_EQ(test::readFile(kept[0]), broken);
        // "config.json.corrupt-" + "20261209T044500Z"
        EXPECT_EQ(kept[0].filename().string().size(), std::string("config.json.corrupt-").size() + 16);
        EXPECT_TRUE(json::parse(fileText()));
        EXPECT_NE(fileText(), broken);
    }
}

TEST_F(ConfigStoreTest, OpeningFoldersCollapsesSpellingsAndShortensHome) {
    ConfigStore& store = bootstrapped();
    fs::path a = folder(work / "a");
    fs::create_directory_symlink(a, work / "link");
    auto opened = store.openProjects({a, work / "link", work / "." / "a" / ".." / "a"});
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].name, "a");
    EXPECT_EQ(opened[0].rootPath, a.string());
    EXPECT_EQ(opened[0].explorerExcludedPaths, std::vector<std::string>{});

    fs::path sibling = folder(home.string() + "x");
    auto homes = store.openProjects({home, folder(home / "src" / "b"), sibling});
    ASSERT_EQ(homes.size(), 3u);
    EXPECT_EQ(homes[0].rootPath, "~");
    EXPECT_EQ(homes[1].rootPath, "~/src/b");
    EXPECT_EQ(homes[2].rootPath, sibling.string());
    EXPECT_EQ(store.config().activeProjectID, homes[0].id);
    EXPECT_EQ(store.config().projects.size(), 4u);
}

TEST_F(ConfigStoreTest, OpeningAKnownFolderReusesItsProject) {
    ConfigStore& store = bootstrapped();
    fs::path b = folder(home / "b");
    auto first = store.openProjects({folder(work / "a"), b});
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[1].rootPath, "~/b");
    auto sessions = store.config().cliSessions;
    auto sessionOfB = std::find_if(sessions.begin(), sessions.end(),
                                   [&](const CLISessionConfig& s) { return s.projectId == first[1].id; });
    ASSERT_NE(sessionOfB, sessions.end());
    EXPECT_EQ(sessionOfB->title, "CLI #1");
    EXPECT_EQ(sessionOfB->workingDirectory, b.string());
    store.removeCLISession(sessionOfB->id);

    auto again = store.openProjects({folder(work / "x"), home / "b" / "."});
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[1], first[1]);
    AppConfig config = store.config();
    ASSERT_EQ(config.projects.size(), 3u);
    EXPECT_EQ(config.projects[1], first[1]);        // keeps its place
    EXPECT_EQ(config.projects[2].id, again[0].id);  // the new one is appended
    EXPECT_EQ(config.activeProjectID, again[0].id);
    EXPECT_EQ(std::count_if(config.cliSessions.begin(), config.cliSessions.end(),
                            [&](const CLISessionConfig& s) { return s.projectId == first[1].id; }),
              1);
}

TEST_F(ConfigStoreTest, OpeningReplacesSampleProjectsAndSkipsNonFolders) {
    ConfigStore store(storage);  // not bootstrapped: still the samples
    test::writeFile(work / "file.txt", "x");
    record(store);
    EXPECT_TRUE(store.openProjects({work / "file.txt", work / "missing"}).empty());
    EXPECT_TRUE(published.empty());
    EXPECT_FALSE(fs::exists(storage / "config.json"));

    auto opened = store.openProjects({folder(work / "a")});
    AppConfig config = store.config();
    ASSERT_EQ(config.projects.size(), 1u);
    EXPECT_EQ(config.projects[0], opened[0]);
    ASSERT_EQ(config.cliSessions.size(), 1u);
    EXPECT_EQ(config.cliSessions[0].projectId, opened[0].id);
}

TEST_F(ConfigStoreTest, ReorderingMovesNamedProjectsFirst) {
    ConfigStore& store = bootstrapped();
    auto p = store.openProjects({folder(work / "a"), folder(work / "b"), folder(work / "c")});
    auto ids = [&] {
        std::vector<Uuid> result;
        for (const auto& project : store.config().projects) result.push_back(project.id);
        return result;
    };
    store.reorderProjects({p[2].id, p[0].id, p[2].id});
    EXPECT_EQ(ids(), (std::vector<Uuid>{p[2].id, p[0].id, p[1].id}));

    record(store);
    fs::remove(storage / "config.json");
    store.reorderProjects({Uuid::random()});
    EXPECT_EQ(ids(), (std::vector<Uuid>{p[2].id, p[0].id, p[1].id}));
    EXPECT_FALSE(published.empty());
    EXPECT_TRUE(fs::exists(storage / "config.json"));

    published.clear();
    fs::remove(storage / "config.json");
    store.reorderProjects({});
    EXPECT_TRUE(published.empty());
    EXPECT_FALSE(fs::exists(storage / "config.json"));
}

TEST_F(ConfigStoreTest, NextAndPreviousWrapAround) {
    ConfigStore& store = bootstrapped();
    EXPECT_FALSE(store.nextProject(std::nullopt));
    auto p = store.openProjects({folder(work / "a"), folder(work / "b"), folder(work / "c")});
    EXPECT_EQ(store.nextProject(p[0].id)->id, p[1].id);
    EXPECT_EQ(store.nextProject(p[2].id)->id, p[0].id);
    EXPECT_EQ(store.previousProject(p[0].id)->id, p[2].id);
    EXPECT_EQ(store.previousProject(p[1].id)->id, p[0].id);
    EXPECT_EQ(store.nextProject(Uuid::random())->id, p[0].id);
    EXPECT_EQ(store.previousProject(std::nullopt)->id, p[2].id);
}

TEST_F(ConfigStoreTest, SetActiveProjectIgnoresUnknownIdentifiers) {
    ConfigStore& store = bootstrapped();
    auto p = store.openProjects({folder(work / "a"), folder(work / "b")});
    store.setActiveProject(p[1].id);
    EXPECT_EQ(store.config().activeProjectID, p[1].id);
    record(store);
    store.setActiveProject(Uuid::random());
    EXPECT_TRUE(published.empty());
    EXPECT_EQ(store.project(p[1].id), p[1]);
    EXPECT_FALSE(store.project(Uuid::random()));
    EXPECT_EQ(store.listActiveProjects(), p);  // display order, the active one not moved first
}

TEST_F(ConfigStoreTest, CliSessionTitlesCountSessionsOfTheSameProject) {
    ConfigStore& store = bootstrapped();
    auto p = store.openProjects({folder(home / "a")});
    store.removeCLISession(store.config().cliSessions.front().id);

    CLISessionConfig first = store.addCLISession(std::nullopt, p[0].id);
    CLISessionConfig second = store.addCLISession(std::nullopt, p[0].id);
    EXPECT_EQ(first.title, "CLI #1");
    EXPECT_EQ(second.title, "CLI #2");
    EXPECT_EQ(second.workingDirectory, (home / "a").string());
    EXPECT_EQ(second.shell, "/bin/zsh");
    store.removeCLISession(first.id);
    EXPECT_EQ(store.addCLISession(std::nullopt, p[0].id).title, "CLI #2");
    EXPECT_EQ(store.addCLISession(std::string(), p[0].id).title, "");
    EXPECT_EQ(store.addCLISession(std::nullopt, std::nullopt).workingDirectory, home.string());

    CLISessionConfig orphan = store.addCLISession(std::nullopt, Uuid::random());
    auto sessions = store.config().cliSessions;
    EXPECT_EQ(std::find(sessions.begin(), sessions.end(), orphan), sessions.end());

    record(store);
    store.removeCLISession(Uuid::random());
    EXPECT_FALSE(published.empty());  // unknown identifiers still publish and save
    EXPECT_EQ(store.config().cliSessions, sessions);
}

TEST_F(ConfigStoreTest, ClosingAndResumingProjects) {
    ConfigStore& store = bootstrapped();
    auto p = store.openProjects({folder(work / "a"), folder(work / "b")});
    Uuid sessionA = store.config().cliSessions[0].id;
    EXPECT_EQ(store.config().activeProjectID, p[0].id);

    EXPECT_FALSE(store.closeProject(Uuid::random()));
    store.setActiveProject(p[0].id);
    auto closedB = store.closeProject(p[1].id);
    ASSERT_TRUE(closedB);
    EXPECT_EQ(closedB->nextActiveID, p[0].id);
    EXPECT_EQ(closedB->removedSessionIDs.size(), 1u);

    auto closedA = store.closeProject(p[0].id);
    ASSERT_TRUE(closedA);
    EXPECT_EQ(closedA->removedSessionIDs, std::vector<Uuid>{sessionA});
    EXPECT_FALSE(closedA->nextActiveID);
    AppConfig closed = store.config();
    EXPECT_TRUE(closed.projects.empty());
    EXPECT_FALSE(closed.activeProjectID);
    ASSERT_EQ(closed.resumeProjects.size(), 1u);
    EXPECT_EQ(closed.resumeProjects[0].id, p[0].id);

    EXPECT_EQ(store.resumeWorkspace(), p[0].id);
    EXPECT_EQ(store.config().projects, std::vector<ProjectMetadata>{p[0]});
    EXPECT_TRUE(store.config().cliSessions.empty());
}

TEST_F(ConfigStoreTest, ClosingTheActiveProjectActivatesTheFirstRemaining) {
    ConfigStore& store = bootstrapped();
    auto p = store.openProjects({folder(work / "a"), folder(work / "b")});
    auto closed = store.closeProject(p[0].id);
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->nextActiveID, p[1].id);
    EXPECT_EQ(store.config().activeProjectID, p[1].id);
}

TEST_F(ConfigStoreTest, ResumingWithNothingToResumeSavesNothing) {
    ConfigStore& store = bootstrapped();
    fs::remove(storage / "config.json");
    record(store);
    EXPECT_FALSE(store.resumeWorkspace());
    EXPECT_TRUE(published.empty());
    EXPECT_FALSE(fs::exists(storage / "config.json"));
}

}  // namespace
}  // namespace pelko
