#include <gtest/gtest.h>

#include "app/AppcastUpdater.hpp"
#include "app/LoopbackHttpServer.hpp"
#include "platform/MainQueue.hpp"

namespace pelko {
namespace {

std::string plist(const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
           "<key>CFBundleVersion</key><string>1.2.0</string>" +
           entries + "</dict></plist>";
}

PropertyList info(const std::string& entries) {
    return *PropertyList::parse(plist(entries));
}

std::string feed(const std::string& version) {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
  <channel>
    <title>pelko</title>
    <item><title>Old</title><enclosure url="https://example.invalid/old" sparkle:version="1.0.0"/></item>
    <item><title>New</title><link>https://example.invalid/notes</link>
      <sparkle:version>)" +
           version + R"(</sparkle:version>
      <sparkle:shortVersionString>)" +
           version + R"( (stable)</sparkle:shortVersionString>
    </item>
  </channel>
</rss>)";
}

struct RecordingPresenter final : UpdatePresenting {
    void presentUpdateAvailable(const AppcastItem& item, const std::string& current) override {
        shown.push_back("update " + item.displayVersion() + " over " + current);
    }
    void presentUpToDate(const std::string& current) override { shown.push_back("up to date " + current); }
    void presentCheckFailed(const std::string&) override { shown.push_back("failed"); }
    std::vector<std::string> shown;
};

Environment appcastUrl(const std::string& value) {
    return Environment(Environment::Map{{"APPCAST_URL", value}});
}

const std::string feedEntry = "<key>SUFeedURL</key><string>https://bundle.example/appcast.xml</string>";

TEST(AppcastFeedResolverTest, EnvironmentFirstThenInfoPlist) {
    const auto withFeed = info(feedEntry);
    const Environment none(Environment::Map{});
    EXPECT_EQ(AppcastFeedResolver::resolve(withFeed, appcastUrl(" https://env.example/a.xml\n")),
              "https://env.example/a.xml");
    EXPECT_EQ(AppcastFeedResolver::resolve(withFeed, appcastUrl("  ")), "https://bundle.example/appcast.xml");
    // Unicode blanks and line breaks (no-break space, next line, line separator) are trimmed too.
    EXPECT_EQ(
        AppcastFeedResolver::resolve(withFeed, appcastUrl("\u00A0https://env.example/b.xml\u0085\u2028")),
        "https://env.example/b.xml");
    EXPECT_EQ(AppcastFeedResolver::resolve(withFeed, appcastUrl("not a url")),
              "https://bundle.example/appcast.xml");
    EXPECT_FALSE(AppcastFeedResolver::resolve(info("<key>SUFeedURL</key><integer>3</integer>"), none));
    EXPECT_FALSE(AppcastFeedResolver::resolve(info(""), none));
}

TEST(AppcastUpdaterTest, EnabledOnlyWithThePublicKeyAndAFeed) {
    const Environment none(Environment::Map{});
    auto enabled = [&](const std::string& entries, const Environment& environment) {
        return AppcastUpdater::create(info(entries), environment, nullptr)->isEnabled();
    };
    EXPECT_TRUE(enabled(feedEntry + "<key>SUPublicEDKey</key><string></string>", none));
    EXPECT_FALSE(enabled(feedEntry, appcastUrl("https://x.example/a")));
    EXPECT_FALSE(enabled("<key>SUPublicEDKey</key><string>k</string>", none));
    EXPECT_EQ(AppcastUpdater::create(info(""), none, nullptr)->currentVersion(), "1.2.0");
}

TEST(AppcastFeedTest, VersionComparison) {
    EXPECT_LT(AppcastFeed::compareVersions("1.2.0", "1.10.0"), 0);
    EXPECT_GT(AppcastFeed::compareVersions("2", "1.9.9"), 0);
    EXPECT_EQ(AppcastFeed::compareVersions("1.0", "1.0.0"), 0);
    EXPECT_GT(AppcastFeed::compareVersions("1.0", "1.0b2"), 0);
    EXPECT_LT(AppcastFeed::compareVersions("1.0b1", "1.0b2"), 0);
    EXPECT_LT(AppcastFeed::compareVersions("1.0", "1.0.1"), 0);
    EXPECT_EQ(AppcastFeed::compareVersions("010", "10"), 0);
}

TEST(AppcastFeedTest, NewestItem) {
    auto item = AppcastFeed::newestItem(feed("1.3.0"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->version, "1.3.0");
    EXPECT_EQ(item->displayVersion(), "1.3.0 (stable)");
    EXPECT_EQ(item->link, "https://example.invalid/notes");
    EXPECT_FALSE(AppcastFeed::newestItem("<html>not a feed"));
    EXPECT_FALSE(AppcastFeed::newestItem("<rss><channel><item><title>x</title></item></channel></rss>"));
}

class AppcastProbeTest : public ::testing::Test {
  protected:
    std::shared_ptr<AppcastUpdater> updater(const test::LoopbackHttpServer& server) {
        return AppcastUpdater::create(
            info("<key>SUPublicEDKey</key><string>k</string><key>SUFeedURL</key><string>" +
                 server.url("/appcast.xml") + "</string>"),
            Environment(Environment::Map{}), presenter);
    }
    void waitForChecks(const std::shared_ptr<AppcastUpdater>& updater) {
        ASSERT_TRUE(MainQueue::shared().drainUntil([&] { return !updater->isChecking(); }));
    }
    std::shared_ptr<RecordingPresenter> presenter = std::make_shared<RecordingPresenter>();
};

TEST_F(AppcastProbeTest, ProbesShowOnlyUpdatesWhileInteractiveChecksReportEveryOutcome) {
    struct Case {
        int status;
        std::string body;
        bool interactive;
        std::vector<std::string> shown;
        int requests;
    };
    const Case cases[] = {
        // A probe that finds an update leads to one interactive check.
        {200, feed("1.3.0"), false, {"update 1.3.0 (stable) over 1.2.0"}, 2},
        {200, feed("1.2.0"), false, {}, 1},
        {500, "", false, {}, 1},
        {200, feed("1.2.0"), true, {"up to date 1.2.0"}, 1},
        {404, "", true, {"failed"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + (c.interactive ? " interactive" : " probe"));
        presenter->shown.clear();
        test::LoopbackHttpServer server(c.status, c.body);
        auto subject = updater(server);
        c.interactive ? subject->checkForUpdates() : subject->checkForUpdateInformation();
        waitForChecks(subject);
        EXPECT_EQ(presenter->shown, c.shown);
        EXPECT_EQ(server.requests(), c.requests);
    }
}

}  // namespace
}  // namespace pelko
