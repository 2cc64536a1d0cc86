// Fault mended: a folder swapped for a link leading out between the containment check and the listing
// listed the outside folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "explorer/ExplorerService.hpp"
#include "support/FolderLinkSwapper.hpp"
#include "support/TestSupport.hpp"

namespace fs = std::filesystem;

namespace pelko {
namespace {

TEST(ExplorerListingRaceTest, SwappingAFolderForALinkNeverListsOutside) {
    test::TempDir temp;
    const fs::path root = temp / "project";
    test::writeFile(root / "dir/inside.txt", "");
    test::writeFile(temp / "outside/outside-only.txt", "");
    fs::create_directory_symlink(temp / "outside", root / "swap");

    ExplorerService service;
    std::size_t outsideListings = 0;
    std::size_t listed = 0;
    {
        test::FolderLinkSwapper swapper(root / "dir", root / "swap");
        ASSERT_TRUE(swapper.started());
        for (int attempt = 0; attempt < 2000; ++attempt) {
            for (const auto& snapshot : service.listDirectories(root, {"dir", "swap"}, {})) {
                if (!snapshot.error) ++listed;
                for (const auto& node : snapshot.nodes)
                    if (node.name == "outside-only.txt") ++outsideListings;
            }
        }
    }
    EXPECT_EQ(outsideListings, 0u);
    EXPECT_GT(listed, 0u);
}

}  // namespace
}  // namespace pelko
