#include <gtest/gtest.h>

#include "config/AppConfig.hpp"
#include "platform/XdgFolders.hpp"

namespace pelko {
namespace {

const std::string home = "/home/tester";
const Uuid idA = *Uuid::parse("AAAAAAAA-0000-4000-8000-000000000001");
const Uuid idB = *Uuid::parse("BBBBBBBB-0000-4000-8000-000000000002");
const Uuid idC = *Uuid::parse("CCCCCCCC-0000-4000-8000-000000000003");
const Uuid idS = *Uuid::parse("DDDDDDDD-0000-4000-8000-000000000004");

ProjectMetadata project(const Uuid& id, std::string root) {
    return ProjectMetadata{id, "P", std::move(root), {}, {}};
}

AppConfig read(const std::string& text) {
    return AppConfig::fromJson(*json::parse(text), home);
}

TEST(AppConfigJson, MinimalConfigurationWritesExactlyFourKeys) {
    AppConfig config;
    config.columnLayout.order = ColumnLayout::defaultOrder();
    EXPECT_EQ(
        json::encode(config.toJson()),
        R"({"projects":[],"activeProjectID":null,"columnLayout":{"order":["explorer","preview","editor","terminal"]},"cliSessions":[]})");
}

TEST(AppConfigJson, FullConfigurationIsByteExact) {
    AppConfig config;
    config.enabledFeatures = {AppConfig::Feature::terminalDebugDump, AppConfig::Feature::terminalV2};
    config.projects = {
        ProjectMetadata{idA, "web", "~/src/web", std::string("notes/a"), {"node_modules", "dist/x"}},
        project(idB, "/srv/b")};
    config.activeProjectID = idB;
    config.columnLayout.order = {ColumnKind::git, ColumnKind::editor};
    config.cliSessions = {CLISessionConfig{idS, "CLI #1", "/srv/b", "/bin/zsh", idB},
                          CLISessionConfig{idC, "free", "/tmp", "/bin/bash", std::nullopt}};
    config.resumeProjects = {project(idB, "/srv/b")};
    config.legacyLastOpenedProjectIDs = std::vector<Uuid>{idA};
    EXPECT_EQ(
        json::encode(config.toJson()),
        R"({"projects":[{"id":"AAAAAAAA-0000-4000-8000-000000000001","name":"web","rootPath":"~\/src\/web","description":"notes\/a","explorerExcludedPaths":["node_modules","dist\/x"]},)"
        R"({"id":"BBBBBBBB-0000-4000-8000-000000000002","name":"P","rootPath":"\/srv\/b","explorerExcludedPaths":[]}],)"
        R"("activeProjectID":"BBBBBBBB-0000-4000-8000-000000000002","columnLayout":{"order":["git","editor"]},)"
        R"("cliSessions":[{"id":"DDDDDDDD-0000-4000-8000-000000000004","title":"CLI #1","workingDirectory":"\/srv\/b","shell":"\/bin\/zsh","projectId":"BBBBBBBB-0000-4000-8000-000000000002"},)"
        R"({"id":"CCCCCCCC-0000-4000-8000-000000000003","title":"free","workingDirectory":"\/tmp","shell":"\/bin\/bash"}],)"
        R"("features":["terminal.v2","terminal.debugDump"],)"
        R"("resumeProjects":[{"id":"BBBBBBBB-0000-4000-8000-000000000002","name":"P","rootPath":"\/srv\/b","explorerExcludedPaths":[]}],)"
        R"("lastOpenedProjectIDs":["AAAAAAAA-0000-4000-8000-000000000001"]})");
    EXPECT_EQ(read(json::encode(config.toJson())), config);  // and reads back field for field
}

TEST(AppConfigJson, EmptyObjectReadsAsEmptyWorkspaceWithOneHomeSession) {
    AppConfig config = read("{}");
    EXPECT_TRUE(config.projects.empty());
    EXPECT_FALSE(config.activeProjectID);
    EXPECT_EQ(config.columnLayout.order, ColumnLayout::defaultOrder());
    ASSERT_EQ(config.cliSessions.size(), 1u);
    EXPECT_EQ(config.cliSessions[0].title, "CLI #1");
    EXPECT_EQ(config.cliSessions[0].workingDirectory, home);
    EXPECT_EQ(config.cliSessions[0].shell, "/bin/zsh");
    EXPECT_FALSE(config.cliSessions[0].projectId);
    EXPECT_TRUE(config.enabledFeatures.empty());
    EXPECT_TRUE(config.resumeProjects.empty());
    EXPECT_FALSE(config.legacyLastOpenedProjectIDs);
}

TEST(AppConfigJson, DefaultSessionBelongsToActiveElseFirstProjectButStartsAtHome) {
    std::string a = R"({"id":"AAAAAAAA-0000-4000-8000-000000000001","name":"A","rootPath":"/a"})";
    AppConfig first = read(R"({"projects":[)" + a + "]}");
    EXPECT_FALSE(first.activeProjectID);
    ASSERT_EQ(first.cliSessions.size(), 1u);
    EXPECT_EQ(first.cliSessions[0].projectId, idA);
    EXPECT_EQ(first.cliSessions[0].workingDirectory, home);
    EXPECT_TRUE(first.projects[0].explorerExcludedPaths.empty());

    AppConfig active =
        read(R"({"projects":[)" + a + R"(],"activeProjectID":"bbbbbbbb-0000-4000-8000-000000000002"})");
    EXPECT_EQ(active.cliSessions[0].projectId, idB);

    EXPECT_TRUE(read(R"({"cliSessions":[]})").cliSessions.empty());
}

TEST(AppConfigJson, LegacyListSuppliesTheActiveProjectOnlyWhenNoneIsStored) {
    AppConfig legacy = read(
        R"({"activeProjectID":null,"lastOpenedProjectIDs":["BBBBBBBB-0000-4000-8000-000000000002","CCCCCCCC-0000-4000-8000-000000000003"]})");
    EXPECT_EQ(legacy.activeProjectID, idB);
    // The legacy list plays no part in choosing the default session's project.
    EXPECT_FALSE(legacy.cliSessions[0].projectId);

    AppConfig empty = read(R"({"lastOpenedProjectIDs":[],"cliSessions":[]})");
    EXPECT_FALSE(empty.activeProjectID);
    EXPECT_NE(json::encode(empty.toJson()).find(R"("lastOpenedProjectIDs":[])"), std::string::npos);
}

TEST(AppConfigJson, DuplicateFeaturesAndLowerCaseUuidsNormalise) {
    AppConfig config = read(
        R"({"features":["terminal.v2","terminal.v2"],"cliSessions":[{"id":"dddddddd-0000-4000-8000-000000000004","title":"t","workingDirectory":"/w","shell":"/bin/sh","projectId":null}]})");
    EXPECT_EQ(config.enabledFeatures.size(), 1u);
    std::string text = json::encode(config.toJson());
    EXPECT_NE(text.find(R"("features":["terminal.v2"])"), std::string::npos);
    EXPECT_NE(text.find("DDDDDDDD-0000-4000-8000-000000000004"), std::string::npos);
    EXPECT_EQ(text.find("projectId"), std::string::npos);
}

TEST(AppConfigJson, RejectsMalformedValues) {
    const char* cases[] = {
        R"({"features":["terminal.v3"]})",
        R"({"columnLayout":{"order":["explorer","sidebar"]}})",
        R"({"columnLayout":{}})",
        R"({"projects":[{"id":"AAAAAAAA-0000-4000-8000-000000000001","name":"A"}]})",
        R"({"projects":[{"id":"not-a-uuid","name":"A","rootPath":"/a"}]})",
        R"({"projects":{}})",
        R"({"projects":[null]})",
        R"({"activeProjectID":"AAAAAAAA00004000800000000000001"})",
        R"({"activeProjectID":7})",
        R"({"cliSessions":[{"id":"DDDDDDDD-0000-4000-8000-000000000004","title":"t","workingDirectory":"/w"}]})",
        R"({"cliSessions":[{"id":"DDDDDDDD-0000-4000-8000-000000000004","title":"t","workingDirectory":"/w","shell":"/s","projectId":"x"}]})",
        R"({"projects":[{"id":"AAAAAAAA-0000-4000-8000-000000000001","name":"A","rootPath":"/a","explorerExcludedPaths":[1]}]})",
        R"({"projects":[{"id":"AAAAAAAA-0000-4000-8000-000000000001","name":"A","rootPath":"/a","description":false}]})",
        R"({"lastOpenedProjectIDs":["x"]})",
        R"([])",
    };
    for (const char* text : cases) {
        EXPECT_THROW(read(text), DecodeError) << text;
    }
}

TEST(AppConfigDefaults, RemovesSamplesAndFixesActiveProject) {
    AppConfig onlySamples = AppConfig::builtInDefault(home).ensuringDefaults(home);
    EXPECT_TRUE(onlySamples.projects.empty());
    EXPECT_FALSE(onlySamples.activeProjectID);
    EXPECT_TRUE(onlySamples.cliSessions.empty());
    EXPECT_EQ(onlySamples.enabledFeatures, std::set<AppConfig::Feature>{AppConfig::Feature::terminalV2});

    AppConfig unknownActive;
    unknownActive.projects = {project(idA, "/a"), project(idB, "/b")};
    unknownActive.activeProjectID = idC;
    AppConfig fixed = unknownActive.ensuringDefaults(home);
    EXPECT_EQ(fixed.resumeProjects, unknownActive.projects);
    EXPECT_EQ(fixed.activeProjectID, idC);  // the resume branch leaves the identifier alone

    unknownActive.resumeProjects = {project(idA, "/a")};
    EXPECT_EQ(unknownActive.ensuringDefaults(home).activeProjectID, idA);

    AppConfig noActive;
    noActive.projects = noActive.resumeProjects = {project(idA, "/a")};
    EXPECT_EQ(noActive.ensuringDefaults(home).activeProjectID, idA);

    AppConfig empty;
    empty.activeProjectID = idA;
    empty.resumeProjects = {project(idA, "/a")};
    AppConfig emptied = empty.ensuringDefaults(home);
    EXPECT_FALSE(emptied.activeProjectID);
    EXPECT_EQ(emptied.resumeProjects.size(), 1u);
}

TEST(AppConfigDefaults, NormalisesSessionsLayoutAndFeatures) {
    AppConfig config;
    config.projects = {project(idA, "~/src/a")};
    config.cliSessions = {CLISessionConfig{idS, "free", "", "/bin/zsh", std::nullopt},
                          CLISessionConfig{idC, "of A", "", "/bin/zsh", idA},
                          CLISessionConfig{idB, "gone", "/x", "/bin/zsh", idB},
                          CLISessionConfig{Uuid::random(), "kept", "/does/not/exist", "/bin/zsh", idA}};
    config.enabledFeatures = {AppConfig::Feature::terminalDebugDump};
    config.columnLayout.order = {};
    AppConfig fixed = config.ensuringDefaults(home);
    ASSERT_EQ(fixed.cliSessions.size(), 3u);
    EXPECT_EQ(fixed.cliSessions[0].workingDirectory, home);
    EXPECT_EQ(fixed.cliSessions[1].workingDirectory, XdgFolders::process().home.string() + "/src/a");
    EXPECT_EQ(fixed.cliSessions[2].workingDirectory, "/does/not/exist");
    EXPECT_EQ(fixed.enabledFeatures.size(), 2u);
    EXPECT_EQ(fixed.columnLayout.order, ColumnLayout::defaultOrder());

    config.columnLayout.order = {ColumnKind::git};
    EXPECT_EQ(config.ensuringDefaults(home).columnLayout.order, std::vector<ColumnKind>{ColumnKind::git});
}

TEST(AppConfigDefaults, SampleProjectsPointAtFoldersThatCannotExist) {
    ASSERT_EQ(ProjectMetadata::samples().size(), 3u);
    for (const auto& sample : ProjectMetadata::samples()) {
        EXPECT_TRUE(sample.rootPath.starts_with("/nonexistent/")) << sample.rootPath;
        EXPECT_FALSE(std::filesystem::exists(sample.rootPath));
        EXPECT_TRUE(ProjectMetadata::isSampleId(sample.id));
    }
    AppConfig config = AppConfig::builtInDefault(home);
    EXPECT_EQ(config.projects, ProjectMetadata::samples());
    EXPECT_EQ(config.activeProjectID, ProjectMetadata::samples().front().id);
    ASSERT_EQ(config.cliSessions.size(), 1u);
    EXPECT_EQ(config.cliSessions[0].workingDirectory, home);
    EXPECT_EQ(config.cliSessions[0].projectId, ProjectMetadata::samples().front().id);
}

TEST(CliWorkingDirectory, ExpandsTheProjectRootOrFallsBackToHome) {
    std::vector<ProjectMetadata> projects{project(idA, "~"), project(idB, "~/work/b"), project(idC, "/abs")};
    EXPECT_EQ(cliWorkingDirectory(std::nullopt, projects, home), home);
    // A root is resolved with the process's home folder, whatever fallback the caller names.
    const std::string processHome = XdgFolders::process().home.string();
    EXPECT_EQ(cliWorkingDirectory(idA, projects, home), processHome);
    EXPECT_EQ(cliWorkingDirectory(idB, projects, home), processHome + "/work/b");
    EXPECT_EQ(cliWorkingDirectory(idC, projects, home), "/abs");
    EXPECT_EQ(cliWorkingDirectory(idS, projects, home), home);
}

}  // namespace
}  // namespace pelko
