#include <sys/stat.h>

#include "bridge/FilePayloads.hpp"
#include "bridge/ProjectFileTestSupport.hpp"
#include "platform/XdgFolders.hpp"

namespace fs = std::filesystem;

namespace pelko::test {
namespace {

TEST(ProjectFilePathsTest, SanitizeNormalisesAndRefusesWhatLeavesTheRoot) {
    struct Case {
        std::string input;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"", ""},
        {"/", ""},
        {"///", ""},
        {".", ""},
        {"src/a.txt", "src/a.txt"},
        {"a//b/./c/", "a/b/c"},
        {"./a", "a"},
        {"/src/a.txt", "src/a.txt"},
        {"//src/a.txt", "src/a.txt"},
        {"a/..", ""},  // the root itself, as an item
        {"...", "..."},
        {"..a", "..a"},
        {"../x", std::nullopt},
        {"..", std::nullopt},
        {"./../x", std::nullopt},
        // Stricter than before: climbing above the root is refused, also in absolute paths and when
        // the path comes back in through the root's own name.
        {"a/../../b", std::nullopt},
        {"a/../../r/x", std::nullopt},
        {"/../x", std::nullopt},
        {"/a/../../b", std::nullopt},
        // Stricter than before: "~" is no longer taken for the home folder below the root.
        {"~", std::nullopt},
        {"~/notes.md", std::nullopt},
        {"~other/x", "~other/x"},
        {std::string("a.txt\0.png", 10), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProjectFileOperations::sanitize(c.input), c.expected) << "input: " << c.input;
}

TEST(ProjectFilePathsTest, ProjectRootMustBeAnExistingFolder) {
    ProjectFolder project;
    const fs::path home = XdgFolders::process().home;
    fs::create_directories(home / "work");
    const ProjectFileOperations operations;

    EXPECT_EQ(operations.projectRoot(project.root.string()), project.root);
    EXPECT_EQ(operations.projectRoot(project.root.string() + "/"), project.root);
    EXPECT_EQ(operations.projectRoot("~/work"), home / "work");
    EXPECT_EQ(operations.projectRoot("~"), home);

    writeFile(project.temp / "file.txt", "x");
    fs::create_symlink(project.temp / "missing", project.temp / "broken");
    fs::create_directory_symlink(project.root, project.temp / "linked");
    EXPECT_EQ(operations.projectRoot((project.temp / "file.txt").string()), std::nullopt);
    EXPECT_EQ(operations.projectRoot((project.temp / "missing").string()), std::nullopt);
    EXPECT_EQ(operations.projectRoot((project.temp / "broken").string()), std::nullopt);
    EXPECT_EQ(operations.projectRoot(""), std::nullopt);
    EXPECT_EQ(operations.projectRoot((project.temp / "linked").string()), project.root);
}

TEST(ProjectFilePathsTest, TooLargeMessageRoundsHalfToEven) {
    auto expected = [](const std::string& size, const std::string& limit) {
        return "このファイルは約 " + size + "MB あり、上限の " + limit +
               "MB を超えているため開けません。サイズを削減するか、外部エディタをご利用ください。";
    };
    EXPECT_EQ(ProjectFileOperations::tooLargeMessage(314572801, 314572800), expected("300", "300"));
    EXPECT_EQ(ProjectFileOperations::tooLargeMessage(52690944, 314572800), expected("50.2", "300"));  // 50.25
    EXPECT_EQ(ProjectFileOperations::tooLargeMessage(53215232, 314572800), expected("50.8", "300"));  // 50.75
    EXPECT_EQ(ProjectFileOperations::tooLargeMessage(31457281, 31457280), expected("30", "30"));
    EXPECT_EQ(ProjectFileOperations::tooLargeMessage(524288, 314572800), expected("0.5", "300"));
    EXPECT_EQ(ProjectFileOperations::tooLargeMessage(1048576LL * 1000 + 524288, 1048576LL * 1000),
              expected("1000", "1000"));  // 1000.5 has no fraction from 100 MB on and rounds to even
}

TEST(ProjectFilePathsTest, PayloadsKeepKeyOrderAndLeaveAbsentOptionalsOut) {
    const Uuid& id = projectUuid();
    const std::string prefix = std::string(R"({"projectId":")") + kProjectIdText + R"(",)";
    EXPECT_EQ(json::encode(FileContentPayload{id, "src/a.txt", "hi"}.toJson()),
              prefix + R"("path":"src\/a.txt","content":"hi"})");
    EXPECT_EQ(json::encode(FileContentPayload{id, "a.png", "AA==", "base64", "image/png"}.toJson()),
              prefix + R"("path":"a.png","content":"AA==","encoding":"base64","mimeType":"image\/png"})");
    EXPECT_EQ(
        json::encode(FileConfirmationPayload{id, "big", 31457281, 31457280, 314572800}.toJson()),
        prefix +
            R"("path":"big","sizeBytes":31457281,"softLimitBytes":31457280,"hardLimitBytes":314572800})");
    EXPECT_EQ(json::encode(FileErrorPayload{id, "x", "m"}.toJson()), prefix + R"("path":"x","message":"m"})");
    EXPECT_EQ(json::encode(FileErrorPayload{id, "x", "m", "rename_failed"}.toJson()),
              prefix + R"("path":"x","message":"m","code":"rename_failed"})");
    EXPECT_EQ(json::encode(FileSavedPayload{id, "x"}.toJson()), prefix + R"("path":"x"})");
    EXPECT_EQ(json::encode(FileRenamedPayload{id, "a", "b", "file"}.toJson()),
              prefix + R"("path":"a","nextPath":"b","entityType":"file"})");
}

TEST(ProjectFilePathsTest, EarlyAnswersForAProjectWithoutRoot) {
    const std::string message = "プロジェクトのルートが見つかりませんでした";
    for (const auto& event : {ProjectFileOperations::readProjectMissing(projectUuid(), "/a.txt"),
                              ProjectFileOperations::saveProjectMissing(projectUuid(), "/a.txt")}) {
        EXPECT_EQ(event.type, "project/file/error");
        EXPECT_EQ(decoded(event),
                  Json({{"projectId", kProjectIdText}, {"path", "/a.txt"}, {"message", message}}));
    }
    const auto rename = ProjectFileOperations::renameProjectMissing(projectUuid(), "/a.txt");
    EXPECT_EQ(rename.type, "project/file/error");
    EXPECT_EQ(decoded(rename), Json({{"projectId", kProjectIdText},
                                     {"path", "/a.txt"},
                                     {"message", message},
                                     {"code", "rename_invalid_project"}}));
}

}  // namespace
}  // namespace pelko::test
