// Quitting the real application while someone it talks to keeps silent: an update feed server that took
// the connection and never answers, a Secret Service that owns its name and never answers. The process
// returns at once with status 0 all the same, not after the limits of those waits.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include "e2e/PelkoWindowFixture.hpp"
#include "platform/UniqueFd.hpp"
#include "support/SilentSecretService.hpp"

namespace pelko {
namespace {

using namespace std::chrono_literals;

class QuitWindowTest : public test::PelkoWindowTest {};

// The update check's own limit is 60 s.
TEST_F(QuitWindowTest, QuittingWhileTheUpdateFeedNeverAnswersReturnsAtOnce) {
    const auto listener = test::listenOnLoopback(4);
    UniqueFd listening(listener.fd);
    // Updating is on: the bundle has the public key and names the feed.
    test::writeFile(
        dir / "bundle/Info.plist",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
        "<key>CFBundleVersion</key><string>0.1.0</string>"
        "<key>SUPublicEDKey</key><string>e2e</string><key>SUFeedURL</key><string>http://127.0.0.1:" +
            std::to_string(listener.port) + "/appcast.xml</string></dict></plist>");
    writeTestPage("log('loaded');");
    auto pelko = start({withoutLeakReports()});

    pollfd ready{listening.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 120'000), 1) << "the silent probe never asked for the feed" << output();
    UniqueFd connection(::accept4(listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_TRUE(test::waitFor([&] { return hasMessage("loaded"); }, 120s))
        << output() << test::readFile(logFile());

    pelko->signal(SIGTERM);
    auto status = pelko->waitForExit(15s);
    ASSERT_TRUE(status.has_value()) << "still running after SIGTERM: the update feed was waited for";
    expectReturnedCleanly(*status);
}

// Each keyring call is given up after 5 s; a dozen sign-in status requests queued behind one the
// keyring holds would cost a minute in turn.
TEST_F(QuitWindowTest, QuittingWhileTheKeyringNeverAnswersReturnsAtOnce) {
    test::PrivateBus bus;
    ASSERT_FALSE(bus.address.empty()) << "dbus-daemon could not start";
    test::SilentSecretService silent(bus.address);
    ASSERT_TRUE(silent.owned) << "could not own the Secret Service's name on the private bus";
    writeTestPage(R"(
  for (let i = 0; i < 12; ++i) post({ type: 'github/oauth/requestStatus' });
  log('asked');
)");
    const std::string nowhere = "http://127.0.0.1:" + std::to_string(test::freePort());
    auto pelko = start({withoutLeakReports(),
                        {"DBUS_SESSION_BUS_ADDRESS", bus.address},
                        {"PELKO_GITHUB_OAUTH_CLIENT_ID_DEV", "e2e-client"},
                        {"PELKO_GITHUB_OAUTH_BASE_URL", nowhere},
                        {"PELKO_GITHUB_API_BASE_URL", nowhere}});
    ASSERT_TRUE(test::waitFor([&] { return hasMessage("asked") && silent.callsHeld() > 0; }, 120s))
        << output() << test::readFile(logFile());

    pelko->signal(SIGTERM);
    auto status = pelko->waitForExit(15s);
    ASSERT_TRUE(status.has_value()) << "still running after SIGTERM: the keyring was waited for";
    expectReturnedCleanly(*status);
}

}  // namespace
}  // namespace pelko
