#include <gtest/gtest.h>

#include <cstdlib>

#include "e2e/PelkoWindowFixture.hpp"

namespace pelko {
namespace {

using namespace std::chrono_literals;
using test::PelkoWindowTest;

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

// The installed tree is what a desktop reads: the launcher, the icon and the description all
// validate, and the installed program opens its window.
TEST_F(PelkoWindowTest, TheInstalledApplicationValidatesAndStartsItsWindow) {
    const auto prefix = dir / "prefix";
    const auto buildFolder = test::binFolder().parent_path();
    ASSERT_EQ(run("cmake --install " + quoted(buildFolder) + " --prefix " + quoted(prefix) + " >" +
                  quoted(dir / "install.txt") + " 2>&1"),
              0)
        << test::readFile(dir / "install.txt");

    const auto share = prefix / "share";
    EXPECT_TRUE(std::filesystem::exists(share / "icons/hicolor/scalable/apps/app.pelko.Pelko.svg"));
    EXPECT_TRUE(std::filesystem::exists(share / "pelko/PelkoApp_PelkoApp.bundle/web/index.html"));
    EXPECT_EQ(run("desktop-file-validate " + quoted(share / "applications/app.pelko.Pelko.desktop")), 0);
    EXPECT_EQ(run("appstreamcli validate --no-net " +
                  quoted(share / "metainfo/app.pelko.Pelko.metainfo.xml") + " >/dev/null"),
              0);

    writeTestPage(R"(log('page-start ' + location.href);)");
    auto installed = start({}, prefix / "bin/pelko");
    EXPECT_TRUE(test::waitFor([&] { return hasMessage("page-start app://bundle/"); }, 60s)) << output();
}

}  // namespace
}  // namespace pelko
