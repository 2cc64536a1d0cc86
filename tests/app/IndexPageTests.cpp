#include <gtest/gtest.h>

#include "app/IndexPage.hpp"
#include "app/ResourceBundle.hpp"
#include "support/TestSupport.hpp"

namespace pelko {
namespace {

// Asset paths used to lose their folder on some launches, depending on which pair ran first.
TEST(IndexPageTest, AssetPathsKeepTheirFolderEveryTime) {
    const std::string page =
        R"(<link href="./assets/index.css"><script src="./assets/index.js"></script><img src="./logo.svg">)";
    for (int run = 0; run < 20; ++run) {
        EXPECT_EQ(
            IndexPage::rewrite(page),
            R"(<link href="app://bundle/assets/index.css"><script src="app://bundle/assets/index.js"></script>)"
            R"(<img src="app://bundle/logo.svg">)");
    }
}

TEST(IndexPageTest, OnlyTheExactOpeningsAreRewritten) {
    const std::string untouched =
        R"(<a href='./x'></a><a href = "./y"></a><img src="logo.png"><a href="/abs">)";
    EXPECT_EQ(IndexPage::rewrite(untouched), untouched);
    // Plain text replacement: inline scripts and comments are rewritten too.
    EXPECT_EQ(IndexPage::rewrite(R"(<!-- src="./a.js" -->)"), R"(<!-- src="app://bundle/a.js" -->)");
}

TEST(IndexPageTest, LoadRewritesOrReportsUnreadableText) {
    test::TempDir dir;
    test::writeFile(dir / "index.html", R"(<script src="./main.js"></script>)");
    auto loaded = IndexPage::load(dir / "index.html");
    EXPECT_TRUE(loaded.usesBaseAddress);
    EXPECT_EQ(loaded.html, R"(<script src="app://bundle/main.js"></script>)");

    test::writeFile(dir / "bad.html", std::string("\xff\xfe bad", 6));
    auto bad = IndexPage::load(dir / "bad.html");
    EXPECT_FALSE(bad.usesBaseAddress);
    EXPECT_EQ(bad.html, "Failed to read index.html");
}

TEST(IndexPageTest, FallbackPageNamesTheMissingBuild) {
    const auto html = IndexPage::fallbackHtml();
    EXPECT_NE(html.find("<title>pelko</title>"), std::string::npos);
    EXPECT_NE(html.find("Vite ビルド成果物が見つかりませんでした。"), std::string::npos);
    EXPECT_NE(html.find("background:#05060A"), std::string::npos);
}

TEST(ResourceBundleTest, IndexPagePrefersTheWebFolder) {
    test::TempDir dir;
    EXPECT_TRUE(ResourceBundle::indexPage(dir.path()).empty());
    test::writeFile(dir / "index.html", "top");
    EXPECT_EQ(ResourceBundle::indexPage(dir.path()), dir / "index.html");
    test::writeFile(dir / "web/index.html", "web");
    EXPECT_EQ(ResourceBundle::indexPage(dir.path()), dir / "web/index.html");
}

TEST(ResourceBundleTest, LookupOrder) {
    test::TempDir dir;
    const auto exe = dir / "prefix/bin/pelko";
    auto isFolder = [](const std::filesystem::path& p) { return std::filesystem::is_directory(p); };
    Environment none(Environment::Map{});
    // Nothing anywhere: the executable's folder.
    EXPECT_EQ(ResourceBundle::resolve(exe, none, isFolder), dir / "prefix/bin");
    std::filesystem::create_directories(dir / "prefix/share/pelko/PelkoApp_PelkoApp.bundle");
    EXPECT_EQ(ResourceBundle::resolve(exe, none, isFolder),
              dir / "prefix/share/pelko/PelkoApp_PelkoApp.bundle");
    std::filesystem::create_directories(dir / "prefix/bin/PelkoApp_PelkoApp.bundle");
    EXPECT_EQ(ResourceBundle::resolve(exe, none, isFolder), dir / "prefix/bin/PelkoApp_PelkoApp.bundle");
    // The override wins when it names a folder, and is ignored otherwise.
    Environment overridden(Environment::Map{{"PELKO_RESOURCE_BUNDLE", (dir / "custom").string()}});
    EXPECT_EQ(ResourceBundle::resolve(exe, overridden, isFolder),
              dir / "prefix/bin/PelkoApp_PelkoApp.bundle");
    std::filesystem::create_directories(dir / "custom");
    EXPECT_EQ(ResourceBundle::resolve(exe, overridden, isFolder), dir / "custom");
}

}  // namespace
}  // namespace pelko
