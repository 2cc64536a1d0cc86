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

InfoPlist info(const std::string& entries) {
    return *InfoPlist::parse(plist(entries));
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

TEST(AppcastFeedResolverTest, EnvironmentFirstThenInfoPlist) {
    const auto withFeed = info("<key>SUFeedURL</key><string>https://bundle.example/appcast.xml</string>");
    EXPECT_EQ(AppcastFeedResolver::resolve(
                  withFeed, Environment(Environment::Map{{"APPCAST_URL", " https://env.example/a.xml\n"}})),
              "https://env.example/a.xml");
    EXPECT_EQ(AppcastFeedResolver::resolve(withFeed, Environment(Environment::Map{{"APPCAST_URL", "  "}})),
              "https://bundle.example/appcast.xml");
    EXPECT_EQ(
        AppcastFeedResolver::resolve(withFeed, Environment(Environment::Map{{"APPCAST_URL", "not a url"}})),
        "https://bundle.example/appcast.xml");
    EXPECT_FALSE(AppcastFeedResolver::resolve(info("<key>SUFeedURL</key><integer>3</integer>"),
                                              Environment(Environment::Map{})));
    EXPECT_FALSE(AppcastFeedResolver::resolve(info(""), Environment(Environment::Map{})));
}

TEST(AppcastUpdaterTest, EnabledOnlyWithThePublicKeyAndAFeed) {
    const std::string feedEntry = "<key>SUFeedURL</key><string>https://bundle.example/appcast.xml</string>";
    EXPECT_TRUE(AppcastUpdater::create(info(feedEntry + "<key>SUPublicEDKey</key><string></string>"),
                                       Environment(Environment::Map{}), nullptr)
                    ->isEnabled());
    EXPECT_FALSE(AppcastUpdater::create(info(feedEntry),
                                        Environment(Environment::Map{{"APPCAST_URL", "https://x.example/a"}}),
                                        nullptr)
                     ->isEnabled());
    EXPECT_FALSE(AppcastUpdater::create(info("<key>SUPublicEDKey</key><string>k</string>"),
                                        Environment(Environment::Map{}), nullptr)
                     ->isEnabled());
    EXPECT_EQ(AppcastUpdater::create(info(""), Environment(Environment::Map{}), nullptr)->currentVersion(),
              "1.2.0");
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

TEST_F(AppcastProbeTest, AProbeThatFindsAnUpdateLeadsToOneInteractiveCheck) {
    test::LoopbackHttpServer server(200, feed("1.3.0"));
    auto subject = updater(server);
    subject->checkForUpdateInformation();
    waitForChecks(subject);
    EXPECT_EQ(presenter->shown, std::vector<std::string>{"update 1.3.0 (stable) over 1.2.0"});
    EXPECT_EQ(server.requests(), 2);
}

TEST_F(AppcastProbeTest, AProbeShowsNothingWhenUpToDateOrFailing) {
    test::LoopbackHttpServer current(200, feed("1.2.0"));
    auto subject = updater(current);
    subject->checkForUpdateInformation();
    waitForChecks(subject);
    EXPECT_TRUE(presenter->shown.empty());

    test::LoopbackHttpServer broken(500, "");
    auto failing = updater(broken);
    failing->checkForUpdateInformation();
    waitForChecks(failing);
    EXPECT_TRUE(presenter->shown.empty());
    EXPECT_EQ(broken.requests(), 1);
}

TEST_F(AppcastProbeTest, InteractiveChecksReportEveryOutcome) {
    test::LoopbackHttpServer current(200, feed("1.2.0"));
    auto subject = updater(current);
    subject->checkForUpdates();
    waitForChecks(subject);
    test::LoopbackHttpServer broken(404, "");
    auto failing = updater(broken);
    failing->checkForUpdates();
    waitForChecks(failing);
    EXPECT_EQ(presenter->shown, (std::vector<std::string>{"up to date 1.2.0", "failed"}));
}

}  // namespace
}  // namespace pelko
