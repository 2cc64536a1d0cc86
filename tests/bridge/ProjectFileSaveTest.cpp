#include <sys/stat.h>

#include "bridge/ProjectFileTestSupport.hpp"

namespace fs = std::filesystem;

namespace pelko::test {
namespace {

class ProjectFileSaveTest : public ::testing::Test {
  protected:
    ProjectFolder project;
    ProjectFileOperations operations;

    BridgeEvent save(const std::string& path, const std::string& content) {
        return operations.saveFile(projectUuid(), project.root, path, content);
    }
    static std::size_t entriesIn(const fs::path& folder) {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }
};

TEST_F(ProjectFileSaveTest, WritesUtf8AndAnswersWithThePathAsSent) {
    fs::create_directories(project.root / "src");
    const auto event = save("/src/new.txt", "日本語\r\n");
    EXPECT_EQ(event.type, "project/file/saved");
    EXPECT_EQ(json::encode(event.payload),
              std::string(R"({"projectId":")") + kProjectIdText + R"(","path":"\/src\/new.txt"})");
    EXPECT_EQ(readFile(project.root / "src/new.txt"), "日本語\r\n");
    EXPECT_EQ(test::fileMode(project.root / "src/new.txt"), 0644u);

    EXPECT_EQ(save("empty.txt", "").type, "project/file/saved");
    EXPECT_EQ(readFile(project.root / "empty.txt"), "");
}

TEST_F(ProjectFileSaveTest, KeepsTheModeOfAnExistingFile) {
    const fs::path script = project.root / "run.sh";
    writeFile(script, "#!/bin/sh\n");
    fs::permissions(script, static_cast<fs::perms>(0755), fs::perm_options::replace);
    EXPECT_EQ(save("run.sh", "#!/bin/sh\necho hi\n").type, "project/file/saved");
    EXPECT_EQ(readFile(script), "#!/bin/sh\necho hi\n");
    EXPECT_EQ(test::fileMode(script), 0755u);
}

TEST_F(ProjectFileSaveTest, RejectedPathsWriteNothing) {
    fs::create_directories(project.root / "a");
    writeFile(project.root / "a/keep.txt", "keep");
    for (const std::string& path : {std::string(), std::string("/"), std::string(".."),
                                    std::string("../x.txt"), std::string("a/../../x.txt"),
                                    std::string("a/../../outside/x.txt"), std::string("a/keep.txt\0x", 12)}) {
        const auto event = save(path, "data");
        EXPECT_EQ(event.type, "project/file/error") << path;
        EXPECT_EQ(decoded(event),
                  Json({{"projectId", kProjectIdText}, {"path", path}, {"message", "保存パスが不正です"}}))
            << path;
    }
    EXPECT_FALSE(fs::exists(project.temp / "x.txt"));
    EXPECT_EQ(readFile(project.root / "a/keep.txt"), "keep");
    EXPECT_EQ(entriesIn(project.outside), 0u);
}

TEST_F(ProjectFileSaveTest, WriteFailuresKeepWhatWasThere) {
    const auto missingFolder = save("no/such/folder.txt", "x");
    EXPECT_EQ(missingFolder.type, "project/file/error");
    EXPECT_EQ(messageOf(missingFolder), "保存に失敗しました: No such file or directory");
    EXPECT_FALSE(missingFolder.payload.contains("code"));
    EXPECT_FALSE(fs::exists(project.root / "no"));

    writeFile(project.root / "folder/keep.txt", "keep");
    const auto ontoFolder = save("folder", "x");
    EXPECT_EQ(ontoFolder.type, "project/file/error");
    EXPECT_TRUE(messageOf(ontoFolder).starts_with("保存に失敗しました: "));
    EXPECT_EQ(readFile(project.root / "folder/keep.txt"), "keep");
    EXPECT_EQ(entriesIn(project.root / "folder"), 1u);
    EXPECT_EQ(entriesIn(project.root), 1u);  // no temporary file left behind

    EXPECT_TRUE(messageOf(save("folder/..", "x")).starts_with("保存に失敗しました: "));
}

TEST_F(ProjectFileSaveTest, LinksAreWrittenThroughOnlyWhenTheyStayInside) {
    writeFile(project.root / "docs/real.md", "old");
    writeFile(project.outside / "secret.txt", "secret");
    fs::create_symlink("docs/real.md", project.root / "alias.md");
    fs::create_symlink(project.outside / "secret.txt", project.root / "escape.txt");
    fs::create_directory_symlink(project.outside, project.root / "out");

    EXPECT_EQ(save("alias.md", "new").type, "project/file/saved");
    EXPECT_EQ(readFile(project.root / "docs/real.md"), "new");
    EXPECT_TRUE(fs::is_symlink(project.root / "alias.md"));

    EXPECT_EQ(messageOf(save("escape.txt", "pwned")), "保存パスが不正です");
    EXPECT_EQ(messageOf(save("out/new.txt", "pwned")), "保存パスが不正です");
    EXPECT_EQ(messageOf(save("out/secret.txt", "pwned")), "保存パスが不正です");
    EXPECT_EQ(readFile(project.outside / "secret.txt"), "secret");
    EXPECT_EQ(entriesIn(project.outside), 1u);
    EXPECT_TRUE(fs::is_symlink(project.root / "escape.txt"));
}

// Containment before existence, and a link that dangles inside creates the file it names.
TEST_F(ProjectFileSaveTest, LinksLeadingOutRefuseBeforeAnythingIsLookedUp) {
    fs::create_directory_symlink(project.outside, project.root / "link-out");
    for (const std::string path : {"link-out/new.txt", "link-out/no/such/folder.txt"})
        EXPECT_EQ(messageOf(save(path, "pwned")), "保存パスが不正です") << path;
    EXPECT_EQ(entriesIn(project.outside), 0u);

    fs::create_directories(project.root / "docs");
    fs::create_symlink("docs/new.md", project.root / "dangling-in");
    EXPECT_EQ(save("dangling-in", "through").type, "project/file/saved");
    EXPECT_EQ(readFile(project.root / "docs/new.md"), "through");
    EXPECT_TRUE(fs::is_symlink(project.root / "dangling-in"));
}

TEST_F(ProjectFileSaveTest, SpecialFilesAreNeitherOpenedNorReplaced) {
    ASSERT_EQ(mkfifo((project.root / "pipe").c_str(), 0644), 0);
    const auto event = save("pipe", "text");
    EXPECT_EQ(event.type, "project/file/error");
    EXPECT_EQ(messageOf(event), "保存に失敗しました: Invalid argument");
    EXPECT_EQ(fs::status(project.root / "pipe").type(), fs::file_type::fifo);
}

}  // namespace
}  // namespace pelko::test
