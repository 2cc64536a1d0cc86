#include <gio/gio.h>
#include <gtest/gtest.h>

#include "app/PelkoApp.hpp"
#include "support/TestSupport.hpp"

namespace fs = std::filesystem;

namespace pelko {
namespace {

XdgFolders foldersWith(const fs::path& home, const fs::path& dataHome) {
    XdgFolders folders;
    folders.home = home;
    folders.dataHome = dataHome;
    return folders;
}

TEST(SingleInstanceTest, EverySpellingOfOneDataFolderGetsOneIdentifier) {
    test::TempDir dir;
    const auto home = dir / "home";
    const auto data = dir / "data";
    fs::create_directories(home);
    fs::create_directory_symlink(data, dir / "link");

    const std::string id = PelkoApp::instanceId(foldersWith(home, data));
    EXPECT_TRUE(g_application_id_is_valid(id.c_str())) << id;
    EXPECT_NE(id, PelkoApp::applicationId);
    EXPECT_TRUE(fs::is_directory(data / "pelko")) << "the folder is made before it is resolved";
    EXPECT_EQ(PelkoApp::dataFolder(foldersWith(home, data)), fs::canonical(data / "pelko"));

    for (const fs::path spelling :
         {data.string() + "/", data.string() + "//", (home / ".." / "data").string(), (dir / "link").string(),
          (dir / "link/").string()}) {
        EXPECT_EQ(PelkoApp::instanceId(foldersWith(home, spelling)), id) << spelling;
    }
    // The folder itself a link to another data folder's: one folder, one instance.
    fs::create_directories(dir / "other");
    fs::create_directory_symlink(data / "pelko", dir / "other/pelko");
    EXPECT_EQ(PelkoApp::instanceId(foldersWith(home, dir / "other")), id);

    EXPECT_NE(PelkoApp::instanceId(foldersWith(home, dir / "elsewhere")), id);
}

TEST(SingleInstanceTest, TheDefaultFolderKeepsTheApplicationsOwnName) {
    test::TempDir dir;
    const auto home = dir / "home";
    fs::create_directories(home);
    fs::create_directory_symlink(home, dir / "home-link");

    EXPECT_EQ(PelkoApp::instanceId(foldersWith(home, home / ".local/share")), PelkoApp::applicationId);
    EXPECT_EQ(PelkoApp::instanceId(foldersWith(home, home / ".local/share/")), PelkoApp::applicationId);
    EXPECT_EQ(PelkoApp::instanceId(foldersWith(home, dir / "home-link/.local/share")),
              PelkoApp::applicationId);
    EXPECT_EQ(PelkoApp::instanceId(foldersWith(dir / "home-link", home / ".local/share")),
              PelkoApp::applicationId);
}

}  // namespace
}  // namespace pelko
