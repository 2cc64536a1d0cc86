#include <gtest/gtest.h>

#include "app/AppBundleSchemeHandler.hpp"
#include "support/TestSupport.hpp"

namespace pelko {
namespace {

class AppBundleSchemeHandlerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::writeFile(dir / "web/index.html", "<html>index</html>");
        test::writeFile(dir / "web/assets/app.js", "console.log(1)");
        test::writeFile(dir / "web/style.CSS", "body{}");
        test::writeFile(dir / "web/flat.js", "flat");
        test::writeFile(dir / "web/with%20blank.txt", "escaped");
        test::writeFile(dir / "web/with blank.txt", "plain");
        test::writeFile(dir / "web2/secret.txt", "sibling");
        test::writeFile(dir / "outside.txt", "outside");
        test::writeFile(dir / "web/outside.txt", "inside copy");
    }
    test::TempDir dir;
    AppBundleSchemeHandler handler{dir / "web"};
};

TEST_F(AppBundleSchemeHandlerTest, RootAnyHostQueryFragmentAndFlattenedPathsServeTheFile) {
    for (const char* uri :
         {"app://bundle/", "app://bundle", "app://other/index.html", "app://bundle/index.html?x=1#top"}) {
        auto response = handler.respond(uri);
        EXPECT_EQ(response.kind, SchemeResponse::Kind::file) << uri;
        EXPECT_EQ(response.body, "<html>index</html>") << uri;
        EXPECT_EQ(response.mimeType, "text/html");
        EXPECT_EQ(response.textEncoding, "utf-8");
    }
    EXPECT_EQ(handler.respond("app://bundle/assets/app.js").body, "console.log(1)");
    // Flattened assets are found by their last component.
    EXPECT_EQ(handler.respond("app://bundle/assets/flat.js").body, "flat");
}

TEST_F(AppBundleSchemeHandlerTest, UnknownPathsAnswerNotFoundWhileAFolderFails) {
    auto response = handler.respond("app://bundle/missing.js");
    EXPECT_EQ(response.kind, SchemeResponse::Kind::notFound);
    EXPECT_EQ(response.statusCode, 404);
    EXPECT_EQ(response.body, "Not found");
    ASSERT_EQ(response.headers.size(), 2u);
    EXPECT_EQ(response.headers[0],
              std::make_pair(std::string("Content-Type"), std::string("text/plain; charset=utf-8")));
    EXPECT_EQ(response.headers[1], std::make_pair(std::string("Content-Length"), std::string("9")));

    auto folder = handler.respond("app://bundle/assets");
    EXPECT_EQ(folder.kind, SchemeResponse::Kind::failed);
    EXPECT_FALSE(folder.errorMessage.empty());
}

TEST_F(AppBundleSchemeHandlerTest, EscapesAreNotDecoded) {
    EXPECT_EQ(handler.respond("app://bundle/with%20blank.txt").body, "escaped");
    std::filesystem::remove(dir / "web/with%20blank.txt");
    EXPECT_EQ(handler.respond("app://bundle/with%20blank.txt").kind, SchemeResponse::Kind::notFound);
}

TEST_F(AppBundleSchemeHandlerTest, NeverServesFromOutsideTheBaseFolder) {
    // Climbing out falls back to the last component inside the folder.
    EXPECT_EQ(handler.respond("app://bundle/../outside.txt").body, "inside copy");
    std::filesystem::remove(dir / "web/outside.txt");
    EXPECT_EQ(handler.respond("app://bundle/../outside.txt").kind, SchemeResponse::Kind::notFound);
    // A sibling whose name starts with the base folder's name is outside.
    EXPECT_EQ(handler.respond("app://bundle/../web2/secret.txt").kind, SchemeResponse::Kind::notFound);
}

TEST_F(AppBundleSchemeHandlerTest, MimeTypesByExtension) {
    auto css = handler.respond("app://bundle/style.CSS");
    EXPECT_EQ(css.mimeType, "text/css");
    EXPECT_EQ(css.textEncoding, "utf-8");
    auto js = handler.respond("app://bundle/assets/app.js");
    EXPECT_EQ(js.mimeType, "application/javascript");
    EXPECT_FALSE(js.textEncoding.has_value());
    EXPECT_EQ(AppBundleSchemeHandler::mimeType("svg"), "image/svg+xml");
    EXPECT_EQ(AppBundleSchemeHandler::mimeType(".JPEG"), "image/jpeg");
    EXPECT_EQ(AppBundleSchemeHandler::mimeType("woff2"), "font/woff2");
    for (const char* other : {"mjs", "map", "ico", "htm", ""}) {
        EXPECT_EQ(AppBundleSchemeHandler::mimeType(other), "application/octet-stream") << other;
    }
}

}  // namespace
}  // namespace pelko
