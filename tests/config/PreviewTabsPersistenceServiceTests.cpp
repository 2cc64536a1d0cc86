#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <set>

#include "config/PreviewTabsPersistenceService.hpp"
#include "support/TestSupport.hpp"

namespace fs = std::filesystem;

namespace pelko {
namespace {

const std::string subsystem = "app.pelko.preview-tabs";
const std::string category = "persistence";

PreviewTabSnapshot tab(std::string id, std::string path,
                       PreviewTabViewMode mode = PreviewTabViewMode::source) {
    return PreviewTabSnapshot{std::move(id), std::move(path), "title", false, mode, 1700000000000};
}

class PreviewTabsTest : public ::testing::Test {
  protected:
    PreviewTabsTest() { fs::create_directories(home); }

    std::unique_ptr<PreviewTabsPersistenceService> makeService() {
        return std::make_unique<PreviewTabsPersistenceService>(storage, SystemLogger(subsystem, category));
    }

    ProjectMetadata project(const std::string& root) {
        return ProjectMetadata{Uuid::random(), "p", root, {}, {}};
    }

    std::vector<LogEntry> entries(LogLevel level) {
        std::vector<LogEntry> result;
        for (auto& entry : logs.entries(subsystem, category)) {
            if (entry.level == level) result.push_back(entry);
        }
        return result;
    }

    // What the unreadable databases kept beside projects.db hold, in no particular order.
    std::multiset<std::string> keptCopies() {
        std::multiset<std::string> kept;
        for (const auto& entry : fs::directory_iterator(storage)) {
            if (entry.path().filename().string().starts_with("projects.db.corrupt-"))
                kept.insert(test::readFile(entry.path()));
        }
        return kept;
    }

    test::TempDir dir;
    fs::path storage = dir / "data";
    fs::path home = XdgFolders::process().home;
    LogCapture logs;
};

TEST_F(PreviewTabsTest, WithoutDatabaseEveryProjectIsEmptyAndNothingIsLogged) {
    auto service = makeService();
    EXPECT_EQ(service->databasePath(), storage / "projects.db");
    auto result = service->hydrateSnapshot(project(dir.path().string()));
    EXPECT_FALSE(result.state.activeTabId);
    EXPECT_TRUE(result.state.tabs.empty());
    EXPECT_EQ(result.state.version, 1);
    EXPECT_TRUE(result.warnings.empty());
    EXPECT_TRUE(logs.entries().empty());
}

TEST_F(PreviewTabsTest, SavedStateRoundTripsThroughTheFile) {
    fs::path root = dir / "proj";
    test::writeFile(root / "a.md", "a");
    ProjectMetadata p = project(root.string());
    PreviewTabsState state{
        std::string("t2"), {tab("t1", "a.md", PreviewTabViewMode::markdown), tab("t2", "a.md")}, 7};
    ASSERT_FALSE(makeService()->persist(PreviewTabsState{std::nullopt, {tab("old", "a.md")}, 1}, p));
    ASSERT_FALSE(makeService()->persist(state, p));  // a second save replaces, never duplicates

    std::string text = test::readFile(storage / "projects.db");
    std::regex shape(
        R"(\{"version":1,"projects":\[\{"projectId":")" + p.id.string() +
        R"(","updatedAt":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ","previewTabs":\{"activeTabId":"t2","tabs":\[)"
        R"(\{"id":"t1","path":"a.md","title":"title","isDirty":false,"viewMode":"markdown","lastOpenedAt":1700000000000\},)"
        R"(\{"id":"t2","path":"a.md","title":"title","isDirty":false,"viewMode":"source","lastOpenedAt":1700000000000\}\],"version":1\}\}\]\})");
    EXPECT_TRUE(std::regex_match(text, shape)) << text;

    auto result = makeService()->hydrateSnapshot(p);
    state.version = 1;
    EXPECT_EQ(result.state, state);
    EXPECT_TRUE(result.warnings.empty());
}

TEST_F(PreviewTabsTest, UnsupportedDatabaseVersionIsKeptAsBackupBeforeTheFirstSave) {
    const std::string old = R"({"version":2,"projects":[]})";
    test::writeFile(storage / "projects.db", old);
    auto service = makeService();
    auto notices = entries(LogLevel::notice);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].message, "previewTabs: database version 2 is not supported. Resetting cache.");

    ProjectMetadata p = project(dir.path().string());
    ASSERT_FALSE(service->persist(PreviewTabsState{}, p));
    EXPECT_EQ(keptCopies(), std::multiset<std::string>{old});
    auto saved = json::parse(test::readFile(storage / "projects.db"));
    ASSERT_TRUE(saved);
    EXPECT_EQ((*saved)["version"], 1);
    EXPECT_EQ((*saved)["projects"].size(), 1u);

    // Only the file of the failed load is kept; later saves leave the backup alone.
    ASSERT_FALSE(service->persist(PreviewTabsState{}, project(dir.path().string())));
    EXPECT_EQ(keptCopies(), std::multiset<std::string>{old});
}

TEST_F(PreviewTabsTest, OneBadTabMakesTheWholeDatabaseUnreadableAndIsKept) {
    Uuid good = Uuid::random();
    std::string text =
        R"({"version":1,"projects":[{"projectId":")" + good.string() +
        R"(","updatedAt":"2025-01-31T09:30:00Z","previewTabs":{"tabs":[],"version":1}},)"
        R"({"projectId":")" +
        Uuid::random().string() +
        R"(","updatedAt":"2025-01-31T09:30:00+02:00","previewTabs":{"tabs":[{"id":"x","path":"p","title":"t","isDirty":true,"viewMode":"preview","lastOpenedAt":1}],"version":1}}]})";
    test::writeFile(storage / "projects.db", text);
    auto service = makeService();
    ASSERT_EQ(entries(LogLevel::error).size(), 1u);
    EXPECT_TRUE(entries(LogLevel::error)[0].message.starts_with("previewTabs: failed to load database: "));
    EXPECT_TRUE(service->hydrateSnapshot(ProjectMetadata{good, "g", "/", {}, {}}).state.tabs.empty());

    ASSERT_FALSE(service->persist(PreviewTabsState{}, project("/")));
    EXPECT_EQ(keptCopies(), std::multiset<std::string>{text});
}

// Fault mended: every unreadable database was kept under one fixed name, so the next one replaced the
// copy of the first.
TEST_F(PreviewTabsTest, EachUnreadableDatabaseIsKeptUnderANameOfItsOwn) {
    test::writeFile(storage / "projects.db.bak", "a copy an earlier version kept");
    const std::vector<std::string> broken{"first, not json", R"({"version":9,"projects":[]})", "third"};
    for (const auto& text : broken) {
        test::writeFile(storage / "projects.db", text);
        ASSERT_FALSE(makeService()->persist(PreviewTabsState{}, project("/"))) << text;
        EXPECT_TRUE(json::parse(test::readFile(storage / "projects.db"))) << text;
    }
    EXPECT_EQ(keptCopies(), std::multiset<std::string>(broken.begin(), broken.end()));
    EXPECT_EQ(test::readFile(storage / "projects.db.bak"), "a copy an earlier version kept");
}

// Fault mended: an unreadable database the user removed before the first save made that save and every
// later one fail ("could not keep the unreadable database"), so the tabs were lost at the next start.
TEST_F(PreviewTabsTest, AnUnreadableDatabaseRemovedBeforeTheFirstSaveIsNoFailure) {
    test::writeFile(storage / "projects.db", "not json");
    auto service = makeService();
    fs::remove(storage / "projects.db");
    test::writeFile(dir / "README.md", "# p");
    PreviewTabsState state;
    state.tabs.push_back(tab("a", "README.md"));
    const ProjectMetadata p = project(dir.path().string());
    for (int save = 0; save < 2; ++save) {
        EXPECT_FALSE(service->persist(state, p)) << "save " << save;
        EXPECT_EQ(makeService()->hydrateSnapshot(p).state.tabs.size(), 1u) << "save " << save;
    }
    EXPECT_TRUE(keptCopies().empty());
}

TEST_F(PreviewTabsTest, DecodingFailuresWinOverVersionAndDateChecks) {
    for (
        const char* text :
        {R"({"version":2,"projects":[{"updatedAt":"2025-01-31T09:30:00Z"}]})",
         R"({"version":1,"projects":[{"projectId":"AAAAAAAA-0000-4000-8000-000000000001","updatedAt":"2025-01-31T09:30:00.5Z","previewTabs":{"tabs":[],"version":1}}]})",
         R"({"version":1,"projects":[{"projectId":"AAAAAAAA-0000-4000-8000-000000000001","updatedAt":"2025-01-31T09:30:00Z","previewTabs":{"tabs":[]}}]})",
         "not json"}) {
        logs.clear();
        test::writeFile(storage / "projects.db", text);
        makeService();
        EXPECT_EQ(entries(LogLevel::error).size(), 1u) << text;
        EXPECT_TRUE(entries(LogLevel::notice).empty()) << text;
    }
}

TEST_F(PreviewTabsTest, StoredStateOfAnotherVersionHydratesEmptyButSurvives) {
    Uuid old = Uuid::random();
    std::string state =
        R"({"tabs":[{"id":"x","path":"p","title":"t","isDirty":false,"viewMode":"rendered","lastOpenedAt":-5}],"version":3})";
    test::writeFile(storage / "projects.db", R"({"projects":[{"previewTabs":)" + state + R"(,"projectId":")" +
                                                 old.string() +
                                                 R"(","updatedAt":"2025-01-31T09:30:00Z"}],"version":1})");
    auto service = makeService();
    ProjectMetadata p{old, "old", dir.path().string(), {}, {}};
    for (int i = 0; i < 2; ++i) {
        auto result = service->hydrateSnapshot(p);
        EXPECT_EQ(result.state, PreviewTabsState{});
        EXPECT_TRUE(result.warnings.empty());
    }
    auto notices = entries(LogLevel::notice);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].message, "previewTabs: snapshot version mismatch for project " + old.string() +
                                      ". Resetting to empty state.");

    ASSERT_FALSE(service->persist(PreviewTabsState{}, project("/")));
    EXPECT_TRUE(keptCopies().empty());
    EXPECT_NE(test::readFile(storage / "projects.db").find(state), std::string::npos);
}

TEST_F(PreviewTabsTest, MissingFilesAreWarnedInTabOrderAndNeverProbedOutsideTheRoot) {
    fs::path root = home / "proj";
    test::writeFile(root / "docs" / "readme.md", "# hi");
    fs::create_directories(root / "a");
    test::writeFile(home / "outside.md", "reachable only by climbing out of the root");
    PreviewTabsState state;
    for (const char* path :
         {"docs/readme.md", "/docs/readme.md", "docs//readme.md", "./docs/../docs/readme.md", "..",
          "../proj/docs/readme.md", "", "/", "docs", "a/../../outside.md", "missing.md"}) {
        state.tabs.push_back(tab(std::string("id:") + path, path));
    }
    ProjectMetadata p = project("~/proj");
    auto service = makeService();
    ASSERT_FALSE(service->persist(state, p));
    auto result = service->hydrateSnapshot(p);
    EXPECT_EQ(result.state.tabs, state.tabs);
    std::vector<std::string> warned;
    for (const auto& warning : result.warnings) {
        EXPECT_EQ(warning.tabId, "id:" + warning.path);
        EXPECT_EQ(warning.message, "ファイルが見つかりません");
        EXPECT_EQ(json::encode(warning.toJson()),
                  json::encode(PreviewTabWarning::fileMissing(warning.tabId, warning.path).toJson()));
        warned.push_back(warning.path);
    }
    EXPECT_EQ(warned, (std::vector<std::string>{"..", "../proj/docs/readme.md", "", "/", "docs",
                                                "a/../../outside.md", "missing.md"}));

    fs::remove_all(root);
    EXPECT_EQ(service->hydrateSnapshot(p).warnings.size(), state.tabs.size());
}

TEST_F(PreviewTabsTest, FailedWriteIsLoggedReturnedAndKeptInMemory) {
    auto service = makeService();
    fs::remove_all(storage);
    test::writeFile(storage, "a file where the folder should be");
    ProjectMetadata p = project("/nonexistent");
    PreviewTabsState state{std::nullopt, {tab("t", "x")}, 1};
    auto error = service->persist(state, p);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, PreviewTabsPersistenceError::Code::writeFailed);
    ASSERT_EQ(entries(LogLevel::error).size(), 1u);
    EXPECT_TRUE(entries(LogLevel::error)[0].message.starts_with("previewTabs: failed to write database: "));
    EXPECT_EQ(service->hydrateSnapshot(p).state, state);
}

TEST(PreviewTabsSanitize, CleansPathsAndRejectsClimbingOut) {
    EXPECT_EQ(PreviewTabsPersistenceService::sanitize("docs/./readme.md"), "docs/readme.md");
    EXPECT_EQ(PreviewTabsPersistenceService::sanitize("//docs///readme.md"), "docs/readme.md");
    EXPECT_EQ(PreviewTabsPersistenceService::sanitize("a/b/../c"), "a/c");
    EXPECT_EQ(PreviewTabsPersistenceService::sanitize("a/.."), "");
    EXPECT_FALSE(PreviewTabsPersistenceService::sanitize("a/../../x"));
    EXPECT_FALSE(PreviewTabsPersistenceService::sanitize("../x"));
    EXPECT_FALSE(PreviewTabsPersistenceService::sanitize(".."));
    // Stricter than before: an absolute path no longer stops at "/", and "~" is no home folder here.
    EXPECT_FALSE(PreviewTabsPersistenceService::sanitize("/../etc/x"));
    EXPECT_FALSE(PreviewTabsPersistenceService::sanitize("~/n.md"));
}

// Fault mended: a database holding a huge snapshot made every activation check each tab on disk.
TEST_F(PreviewTabsTest, SnapshotsBeyondTheBoundAreRefusedAndDroppedWhenLoaded) {
    PreviewTabsState huge;
    for (std::size_t i = 0; i <= PreviewTabsState::maxTabs; ++i)
        huge.tabs.push_back(tab("t" + std::to_string(i), "x"));
    const ProjectMetadata big = project("/"), small = project("/");
    {
        auto service = makeService();
        auto error = service->persist(huge, big);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, PreviewTabsPersistenceError::Code::tooLarge);
        EXPECT_TRUE(service->hydrateSnapshot(big).state.tabs.empty());
    }
    // A database written before the bound existed.
    Json entries = Json::array();
    for (const auto& [p, state] :
         {std::pair{big, huge}, std::pair{small, PreviewTabsState{std::nullopt, {tab("s", "y")}, 1}}})
        entries.push_back({{"projectId", p.id.string()},
                           {"updatedAt", "2026-01-01T00:00:00Z"},
                           {"previewTabs", state.toJson()}});
    test::writeFile(storage / "projects.db", json::encode(Json{{"version", 1}, {"projects", entries}}));
    auto service = makeService();
    EXPECT_TRUE(service->hydrateSnapshot(big).state.tabs.empty());
    EXPECT_EQ(service->hydrateSnapshot(small).state.tabs.size(), 1u);
    auto notices = this->entries(LogLevel::notice);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].message, "previewTabs: dropped the snapshot of project " + big.id.string() + ": " +
                                      std::to_string(PreviewTabsState::maxTabs + 1) + " tabs, more than " +
                                      std::to_string(PreviewTabsState::maxTabs));
}

TEST_F(PreviewTabsTest, ConstructionSweepsTemporariesOfInterruptedSaves) {
    test::writeFile(storage / ".projects.db.tmp-Ab12Cd", "{");
    const timespec old[2] = {{0, UTIME_OMIT}, {time(nullptr) - 3600, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (storage / ".projects.db.tmp-Ab12Cd").c_str(), old, 0), 0);
    auto service = makeService();
    EXPECT_FALSE(fs::exists(storage / ".projects.db.tmp-Ab12Cd"));
}

TEST(PreviewTabsStateJson, ReadsStrictlyAndWritesWithoutAbsentActiveTab) {
    EXPECT_EQ(json::encode(PreviewTabsState{}.toJson()), R"({"tabs":[],"version":1})");
    auto state =
        PreviewTabsState::fromJson(*json::parse(R"({"activeTabId":null,"tabs":[],"version":4,"extra":1})"));
    EXPECT_FALSE(state.activeTabId);
    EXPECT_EQ(state.version, 4);
    for (
        const char* text :
        {R"({"version":1})", R"({"tabs":[]})", R"({"tabs":[],"version":1.5})",
         R"({"tabs":[{"id":"x","path":"p","title":"t","isDirty":false,"viewMode":"source"}],"version":1})",
         R"({"tabs":[{"id":"x","path":"p","title":"t","isDirty":0,"viewMode":"source","lastOpenedAt":1}],"version":1})"}) {
        EXPECT_THROW(PreviewTabsState::fromJson(*json::parse(text)), DecodeError) << text;
    }
}

}  // namespace
}  // namespace pelko
