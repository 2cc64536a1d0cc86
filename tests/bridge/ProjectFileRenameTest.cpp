#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <regex>

#include "bridge/LinuxFileSystemRenaming.hpp"
#include "bridge/ProjectFileTestSupport.hpp"

namespace fs = std::filesystem;

namespace pelko::test {
namespace {

bool sameIgnoringAsciiCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Behaves like a case-insensitive volume on top of real folders: a name finds any entry of its folder
// that differs only in ASCII case, and a move onto such an entry is refused as existing.
class CaseInsensitiveRenaming final : public FileSystemRenaming {
  public:
    std::vector<std::pair<fs::path, fs::path>> moves;
    int failMoveNumber = 0;  // 1-based; 0 never fails

    std::optional<FileIdentity> itemIdentity(int folder, const std::string& name) const override {
        if (auto entry = entryFor(folder, name)) return real_.itemIdentity(folder, *entry);
        return std::nullopt;
    }

    std::error_code moveItemNoReplace(int folder, const std::string& from, const std::string& to) override {
        moves.emplace_back(from, to);
        if (static_cast<int>(moves.size()) == failMoveNumber)
            return std::make_error_code(std::errc::io_error);
        if (entryFor(folder, to)) return std::make_error_code(std::errc::file_exists);
        return real_.moveItemNoReplace(folder, from, to);
    }

  private:
    std::optional<std::string> entryFor(int folder, const std::string& name) const {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator("/proc/self/fd/" + std::to_string(folder), ec)) {
            const std::string found = entry.path().filename().string();
            if (sameIgnoringAsciiCase(found, name)) return found;
        }
        return std::nullopt;
    }

    LinuxFileSystemRenaming real_;
};

// Another program creates the destination between the checks and the move.
class RacingRenaming final : public FileSystemRenaming {
  public:
    std::optional<FileIdentity> itemIdentity(int folder, const std::string& name) const override {
        return real_.itemIdentity(folder, name);
    }
    std::error_code moveItemNoReplace(int folder, const std::string& from, const std::string& to) override {
        close(openat(folder, to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        return real_.moveItemNoReplace(folder, from, to);
    }

  private:
    LinuxFileSystemRenaming real_;
};

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ProjectFileRenameTest : public ::testing::Test {
  protected:
    ProjectFolder project;

    RenameOutcome rename(
        const std::string& from, const std::string& to,
        std::shared_ptr<FileSystemRenaming> renaming = std::make_shared<LinuxFileSystemRenaming>()) {
        ProjectFileOperations operations(std::move(renaming));
        return operations.renameItem(projectUuid(), project.root, from, to);
    }

    void expectError(const RenameOutcome& outcome, const std::string& path, const std::string& message,
                     const std::string& code) {
        EXPECT_FALSE(outcome.renamed);
        ASSERT_EQ(outcome.events.size(), 1u);
        EXPECT_EQ(outcome.events[0].type, "project/file/error");
        EXPECT_EQ(
            decoded(outcome.events[0]),
            Json({{"projectId", kProjectIdText}, {"path", path}, {"message", message}, {"code", code}}));
    }

    void expectRenamed(const RenameOutcome& outcome, const std::string& path, const std::string& nextPath,
                       const std::string& entityType, const std::string& folder) {
        EXPECT_TRUE(outcome.renamed);
        ASSERT_EQ(outcome.events.size(), 2u);
        EXPECT_EQ(outcome.events[0].type, "project/file/renamed");
        EXPECT_EQ(decoded(outcome.events[0]), Json({{"projectId", kProjectIdText},
                                                    {"path", path},
                                                    {"nextPath", nextPath},
                                                    {"entityType", entityType}}));
        EXPECT_EQ(outcome.events[1].type, "project/explorer/changed");
        EXPECT_EQ(decoded(outcome.events[1]), Json({{"projectId", kProjectIdText},
                                                    {"directoryPaths", Json::array({folder})},
                                                    {"requiresResync", false}}));
    }
};

TEST_F(ProjectFileRenameTest, RenamesInsideItsFolder) {
    writeFile(project.root / "docs/a.md", "a");
    expectRenamed(rename("docs/a.md", "docs/b.md"), "docs/a.md", "docs/b.md", "file", "docs");
    EXPECT_EQ(namesIn(project.root / "docs"), std::vector<std::string>{"b.md"});

    writeFile(project.root / "top.txt", "t");
    expectRenamed(rename("/top.txt", "/ renamed.txt \t"), "top.txt", "renamed.txt", "file", "");
    EXPECT_TRUE(fs::exists(project.root / "renamed.txt"));

    // The reply's type comes from the disk, not from the page's hint.
    expectRenamed(rename("docs", "notes"), "docs", "notes", "folder", "");
    EXPECT_TRUE(fs::is_directory(project.root / "notes"));
}

TEST_F(ProjectFileRenameTest, RefusesBadPathsAndNamesInOrder) {
    writeFile(project.root / "docs/a.md", "a");
    const std::string badPath = "リネーム対象のパスが不正です", badDestination = "移動先のパスが不正です",
                      noName = "名前を入力してください", reserved = "この名前は使用できません",
                      badCharacter = "名前に使用できない文字が含まれています",
                      missing = "対象が見つかりません";
    struct Case {
        std::string from, to, path, message, code;
    };
    const Case cases[] = {
        {"", "docs/b.md", "", badPath, "rename_invalid_path"},
        {"../docs/a.md", "docs/b.md", "../docs/a.md", badPath, "rename_invalid_path"},
        {"/docs/a.md", "/", "docs/a.md", badDestination, "rename_invalid_destination"},
        {"docs/a.md", "notes/a.md", "docs/a.md", badDestination, "rename_invalid_destination"},
        {"docs/a.md", "docs/ \n", "docs/a.md", noName, "rename_invalid_name"},
        {"docs/a.md", "docs/\xE3\x80\x80", "docs/a.md", noName, "rename_invalid_name"},  // ideographic space
        {"docs/a.md", "docs/..", "docs/a.md", reserved, "rename_invalid_name"},
        {"docs/a.md", "docs/. ", "docs/a.md", reserved, "rename_invalid_name"},
        {"docs/a.md", "docs/a\\b", "docs/a.md", badCharacter, "rename_invalid_name"},
        {"docs/a.md", "docs/a:b", "docs/a.md", badCharacter, "rename_invalid_name"},
        {"docs/a.md", "docs/a\nb", "docs/a.md", badCharacter, "rename_invalid_name"},
        {"docs/a.md", "docs/a\u2028b", "docs/a.md", badCharacter, "rename_invalid_name"},
        {"docs/missing.md", "docs/b.md", "docs/missing.md", missing, "rename_not_found"},
        // "~" was expanded, and the error then named the home folder's path below the root.
        {"~/docs/a.md", "~/docs/b.md", "~/docs/a.md", badPath, "rename_invalid_path"},
        {"nofolder/a.md", "nofolder/b.md", "nofolder/a.md", missing, "rename_not_found"},
        {std::string("docs/a.md\0x", 11), "docs/b.md", std::string("docs/a.md\0x", 11), badPath,
         "rename_invalid_path"},
        {"docs/a.md", std::string("docs/b.md\0x", 11), "docs/a.md", badDestination,
         "rename_invalid_destination"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from + " -> " + c.to);
        expectError(rename(c.from, c.to), c.path, c.message, c.code);
    }
    EXPECT_EQ(namesIn(project.root / "docs"), std::vector<std::string>{"a.md"});
}

TEST_F(ProjectFileRenameTest, UnchangedNameSucceedsWithoutTouchingTheDisk) {
    writeFile(project.root / "a.txt", "a");
    auto failing = std::make_shared<CaseInsensitiveRenaming>();
    failing->failMoveNumber = 1;
    expectRenamed(rename("a.txt", "./a.txt", failing), "a.txt", "a.txt", "file", "");
    EXPECT_TRUE(failing->moves.empty());
}

TEST_F(ProjectFileRenameTest, ExistingDestinationIsAConflict) {
    writeFile(project.root / "a.txt", "a");
    writeFile(project.root / "b.txt", "b");
    expectError(rename("a.txt", "b.txt"), "a.txt", "同名の項目が既に存在します", "rename_conflict");
    writeFile(project.root / "Readme.md", "r");
    writeFile(project.root / "README.md", "R");
    expectError(rename("Readme.md", "README.md"), "Readme.md", "同名の項目が既に存在します",
                "rename_conflict");
    EXPECT_EQ(readFile(project.root / "b.txt"), "b");
    EXPECT_EQ(readFile(project.root / "README.md"), "R");
}

TEST_F(ProjectFileRenameTest, DestinationAppearingBeforeTheMoveIsNeverOverwritten) {
    writeFile(project.root / "a.txt", "a");
    expectError(rename("a.txt", "b.txt", std::make_shared<RacingRenaming>()), "a.txt",
                "リネームに失敗しました: File exists", "rename_failed");
    EXPECT_EQ(readFile(project.root / "a.txt"), "a");
    EXPECT_EQ(readFile(project.root / "b.txt"), "");
}

TEST_F(ProjectFileRenameTest, CaseOnlyRenameOnACaseSensitiveVolumeIsOneMove) {
    writeFile(project.root / "Readme.md", "r");
    expectRenamed(rename("Readme.md", "README.md"), "Readme.md", "README.md", "file", "");
    EXPECT_EQ(namesIn(project.root), std::vector<std::string>{"README.md"});
}

TEST_F(ProjectFileRenameTest, CaseOnlyRenameOnACaseInsensitiveVolumePassesThroughATemporaryName) {
    writeFile(project.root / "docs/Readme.md", "r");
    auto volume = std::make_shared<CaseInsensitiveRenaming>();
    expectRenamed(rename("docs/Readme.md", "docs/README.md", volume), "docs/Readme.md", "docs/README.md",
                  "file", "docs");
    ASSERT_EQ(volume->moves.size(), 2u);
    const std::string temporary = volume->moves[0].second.filename().string();
    EXPECT_TRUE(std::regex_match(
        temporary, std::regex(R"(README\.md\.rename-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12})")))
        << temporary;
    EXPECT_EQ(volume->moves[1].first, volume->moves[0].second);
    EXPECT_EQ(namesIn(project.root / "docs"), std::vector<std::string>{"README.md"});
    EXPECT_EQ(readFile(project.root / "docs/README.md"), "r");
}

TEST_F(ProjectFileRenameTest, FailedCaseOnlyRenameRestoresTheFormerName) {
    writeFile(project.root / "Readme.md", "r");
    auto volume = std::make_shared<CaseInsensitiveRenaming>();
    volume->failMoveNumber = 2;
    expectError(rename("Readme.md", "README.md", volume), "Readme.md",
                "リネームに失敗しました: Input/output error", "rename_failed");
    EXPECT_EQ(volume->moves.size(), 3u);
    EXPECT_EQ(namesIn(project.root), std::vector<std::string>{"Readme.md"});
}

TEST_F(ProjectFileRenameTest, ComposedAndDecomposedNamesAreDifferentFiles) {
    const std::string composed = "caf\xC3\xA9.txt";
    const std::string decomposed = "cafe\xCC\x81.txt";
    writeFile(project.root / composed, "x");
    expectRenamed(rename(composed, decomposed), composed, decomposed, "file", "");
    EXPECT_EQ(namesIn(project.root), std::vector<std::string>{decomposed});
    expectError(rename(composed, "other.txt"), composed, "対象が見つかりません", "rename_not_found");
}

TEST_F(ProjectFileRenameTest, NeverRenamesOutsideTheProject) {
    writeFile(project.outside / "victim.txt", "v");
    fs::create_directories(project.root / "a/b");
    expectError(rename("a/../../outside/victim.txt", "a/../../outside/moved.txt"),
                "a/../../outside/victim.txt", "リネーム対象のパスが不正です", "rename_invalid_path");
    // The root itself, and moving an item into a folder below it, are not renames.
    expectError(rename("a/..", "a/x"), "a/..", "リネーム対象のパスが不正です", "rename_invalid_path");
    // The reply names the source as normalised: "a".
    expectError(rename("a/b/..", "a/b/c"), "a", "移動先のパスが不正です", "rename_invalid_destination");
    // "~" would be expanded into the home folder.
    fs::create_directories(project.temp / "home");
    writeFile(project.root / "top.txt", "t");
    expectError(rename("top.txt", "~"), "top.txt", "移動先のパスが不正です", "rename_invalid_destination");
    expectError(rename("top.txt", " ~"), "top.txt", "移動先のパスが不正です", "rename_invalid_destination");
    // A linked folder that leads outside.
    fs::create_directory_symlink(project.outside, project.root / "out");
    expectError(rename("out/victim.txt", "out/moved.txt"), "out/victim.txt", "リネーム対象のパスが不正です",
                "rename_invalid_path");
    EXPECT_EQ(namesIn(project.outside), std::vector<std::string>{"victim.txt"});
    EXPECT_TRUE(fs::exists(project.root / "top.txt"));
    EXPECT_TRUE(fs::is_directory(project.root / "a/b"));

    // A link itself is renamed, not what it points to; a link to a folder outside is no "folder".
    fs::create_directory_symlink(project.outside, project.root / "out-folder");
    expectRenamed(rename("out-folder", "out-folder-2"), "out-folder", "out-folder-2", "file", "");
    fs::create_directory_symlink("a", project.root / "in-folder");
    expectRenamed(rename("in-folder", "in-folder-2"), "in-folder", "in-folder-2", "folder", "");
    fs::create_symlink(project.outside / "victim.txt", project.root / "link.txt");
    expectRenamed(rename("link.txt", "renamed-link.txt"), "link.txt", "renamed-link.txt", "file", "");
    EXPECT_TRUE(fs::is_symlink(project.root / "renamed-link.txt"));
    EXPECT_EQ(namesIn(project.outside), std::vector<std::string>{"victim.txt"});
}

TEST(LinuxFileSystemRenamingTest, MoveNeverReplacesAnExistingItem) {
    TempDir temp;
    writeFile(temp / "a", "a");
    writeFile(temp / "b", "b");
    const int folder = open(temp.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    LinuxFileSystemRenaming renaming;
    EXPECT_EQ(renaming.moveItemNoReplace(folder, "a", "b"), std::make_error_code(std::errc::file_exists));
    EXPECT_EQ(readFile(temp / "b"), "b");
    EXPECT_FALSE(renaming.moveItemNoReplace(folder, "a", "c"));
    EXPECT_EQ(readFile(temp / "c"), "a");
    EXPECT_FALSE(renaming.itemIdentity(folder, "a"));
    EXPECT_EQ(renaming.itemIdentity(folder, "c"), renaming.itemIdentity(folder, "c"));
    EXPECT_NE(renaming.itemIdentity(folder, "c"), renaming.itemIdentity(folder, "b"));
    close(folder);
}

}  // namespace
}  // namespace pelko::test
