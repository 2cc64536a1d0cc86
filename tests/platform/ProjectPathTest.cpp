// The one rule for paths inside a project: the spelling table, then the walk beneath the root on
// real folders with links inside and leading out.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/ProjectDirectory.hpp"
#include "platform/ProjectPath.hpp"
#include "support/TestSupport.hpp"

namespace fs = std::filesystem;

namespace pelko {
namespace {

using LeadingSlash = ProjectPath::LeadingSlash;

TEST(ProjectPathTest, NormalizeTable) {
    const std::optional<std::string> refused;
    struct Case {
        std::string input;
        std::optional<std::string> rootRelative;  // file operations and preview tabs
        std::optional<std::string> slashRefused;  // explorer listings
    };
    const Case cases[] = {
        {"", "", ""},
        {".", "", ""},
        {"./", "", ""},
        {"src/a.txt", "src/a.txt", "src/a.txt"},
        {"a//b/./c/", "a/b/c", "a/b/c"},
        {"src/", "src", "src"},
        {"a/b/..", "a", "a"},
        {"src/..", "", ""},
        {"..", refused, refused},
        {"../x", refused, refused},
        {"./../x", refused, refused},
        {"a/../../b", refused, refused},
        {"a/../../project/x", refused, refused},  // back in through the root's own name: still refused
        {"/", "", refused},
        {"//src/a.txt", "src/a.txt", refused},
        {"/../x", refused, refused},
        {"/etc", "etc", refused},
        {"~", refused, refused},
        {"~/notes.md", refused, refused},
        {"~other/x", "~other/x", "~other/x"},
        {"...", "...", "..."},
        {"..a", "..a", "..a"},
        {"a\\..\\b", "a\\..\\b", "a\\..\\b"},
        {std::string("a.txt\0.png", 10), refused, refused},
        {std::string("a\0/../../etc", 12), refused, refused},
        {"caf\xE9/\xFF\xFE.txt", "caf\xE9/\xFF\xFE.txt", "caf\xE9/\xFF\xFE.txt"},  // bytes kept as they are
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProjectPath::normalize(c.input), c.rootRelative) << c.input;
        EXPECT_EQ(ProjectPath::normalize(c.input, LeadingSlash::refused), c.slashRefused) << c.input;
    }
    for (const char* blank : {"", "/", "//", ".", "./.", "/./"}) EXPECT_TRUE(ProjectPath::namesNoItem(blank));
    for (const char* item : {"a", "src/..", ".."}) EXPECT_FALSE(ProjectPath::namesNoItem(item)) << item;
}

class ProjectDirectoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(root / "docs/deep");
        fs::create_directories(outside);
        test::writeFile(root / "docs/real.md", "inside");
        test::writeFile(outside / "secret.txt", "secret");
        fs::create_symlink("docs/real.md", root / "alias.md");
        fs::create_symlink("../../docs", root / "docs/deep/up");
        fs::create_directory_symlink(root / "docs", root / "absolute-in");
        fs::create_directory_symlink(outside, root / "link-out");
        fs::create_symlink("../outside/secret.txt", root / "relative-out");
        fs::create_symlink("../../..", root / "docs/deep/climb");
        fs::create_symlink("/nowhere/at/all", root / "dangling-out");
        fs::create_symlink("docs/new.md", root / "dangling-in");
        fs::create_symlink("loop", root / "loop");
    }

    // The entry's real relative path, or the failure's description.
    std::string resolved(const std::string& path, ProjectDirectory::FinalLink finalLink) {
        auto directory = ProjectDirectory::open(root);
        EXPECT_TRUE(directory);
        ResolveError error;
        auto entry = directory->resolve(path, finalLink, error);
        if (!entry) return error.code == ResolveError::Code::outside ? "outside" : "notFound";
        return entry->relativePath + (entry->status ? "" : " (missing)");
    }

    test::TempDir temp;
    fs::path root = temp / "project";
    fs::path outside = temp / "outside";
};

TEST_F(ProjectDirectoryTest, ResolveTable) {
    using FinalLink = ProjectDirectory::FinalLink;
    struct Case {
        std::string path;
        std::string followed;
        std::string kept;
    };
    const Case cases[] = {
        {"", "", ""},
        {"docs/real.md", "docs/real.md", "docs/real.md"},
        {"docs/none.md", "docs/none.md (missing)", "docs/none.md (missing)"},
        {"none/x.md", "notFound", "notFound"},
        {"docs/real.md/x", "notFound", "notFound"},
        {"alias.md", "docs/real.md", "alias.md"},
        {"docs/deep/up/real.md", "docs/real.md", "docs/real.md"},
        {"absolute-in/real.md", "docs/real.md", "docs/real.md"},
        {"absolute-in", "docs", "absolute-in"},
        {"dangling-in", "docs/new.md (missing)", "dangling-in"},
        // Containment before existence: what lies beyond a link leading out is never looked at.
        {"link-out/secret.txt", "outside", "outside"},
        {"link-out/no-such.txt", "outside", "outside"},
        {"link-out", "outside", "link-out"},
        {"relative-out", "outside", "relative-out"},
        {"docs/deep/climb/x", "outside", "outside"},
        {"dangling-out", "outside", "dangling-out"},
        {"dangling-out/x", "outside", "outside"},
        {"loop", "notFound", "loop"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(resolved(c.path, FinalLink::follow), c.followed) << c.path;
        EXPECT_EQ(resolved(c.path, FinalLink::keep), c.kept) << c.path;
    }
}

}  // namespace
}  // namespace pelko
