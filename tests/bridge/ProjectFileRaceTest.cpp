// Fault mended: containment was checked by name and the path used again by name, so a folder swapped
// for a link leading out between check and use read, wrote and moved files outside the project.
#include <gtest/gtest.h>

#include <set>

#include "bridge/ProjectFileTestSupport.hpp"
#include "support/FolderLinkSwapper.hpp"

namespace fs = std::filesystem;

namespace pelko::test {
namespace {

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

TEST(ProjectFileRaceTest, SwappingAFolderForALinkNeverLeadsOutside) {
    ProjectFolder project;
    writeFile(project.root / "dir/file.txt", "inside");
    writeFile(project.root / "dir/a.txt", "a");
    writeFile(project.outside / "file.txt", "SECRET");
    writeFile(project.outside / "a.txt", "outside a");
    fs::create_directory_symlink(project.outside, project.root / "swap");
    const std::set<std::string> outsideBefore = namesIn(project.outside);

    ProjectFileOperations operations;
    std::size_t outsideReads = 0;
    {
        FolderLinkSwapper swapper(project.root / "dir", project.root / "swap");
        ASSERT_TRUE(swapper.started());
        for (int attempt = 0; attempt < 1000; ++attempt) {
            const auto read = operations.readFile(projectUuid(), project.root, "dir/file.txt", false);
            if (read.type == "project/file/content" && read.payload["content"] == "SECRET") ++outsideReads;
            if (attempt % 3 == 0)
                operations.saveFile(projectUuid(), project.root, "dir/saved.txt", "written");
            const bool forth = attempt % 2 == 0;
            operations.renameItem(projectUuid(), project.root, forth ? "dir/a.txt" : "dir/b.txt",
                                  forth ? "dir/b.txt" : "dir/a.txt");
        }
    }
    EXPECT_EQ(outsideReads, 0u);
    // Nothing written, left behind or moved outside.
    EXPECT_EQ(namesIn(project.outside), outsideBefore);
    EXPECT_EQ(readFile(project.outside / "file.txt"), "SECRET");
    EXPECT_EQ(readFile(project.outside / "a.txt"), "outside a");
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(project.root / "dir")));
}

}  // namespace
}  // namespace pelko::test
