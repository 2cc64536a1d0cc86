// A sign-out the user asked for before the end of the process began, still queued behind a keyring
// read when it begins, against a real keyring: the next start is signed out.
#include <gtest/gtest.h>

#include <future>

#include "bridge/BridgeTestSupport.hpp"
#include "github/GitHubTestSupport.hpp"
#include "platform/ProcessEnd.hpp"

namespace pelko::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* phaseVariable = "PELKO_TEST_SIGN_OUT_END";

void aSignOutQueuedAsTheEndBegins() {
    auto keychain = std::make_shared<HookedKeychain>(std::make_shared<SystemKeychainStore>());
    auto authManager = std::make_shared<GitAuthManager>(keychain);
    ASSERT_NO_THROW(authManager->saveToken(
        {"gho_old", "ghr_old", Date::fromSeconds(2'000'000'000), {"repo"}, "bearer", "octocat", {}}));
    // The first read on the keyring queue is held until the end has begun, with the rest behind it.
    std::promise<void> ended;
    keychain->beforeLoad = [begun = ended.get_future().share()](int number) {
        if (number == 1) begun.wait();
    };
    LoadedBridge loaded;
    loaded.bridge->configure({.authManager = authManager});
    for (int i = 0; i < 3; ++i) loaded.bridge->handle(message("github/oauth/requestStatus"));
    loaded.bridge->handle(message("github/oauth/logout"));
    ASSERT_TRUE(MainQueue::shared().drainUntil([&] { return keychain->loads >= 1; }, 60s))
        << "the keyring was never asked";

    ProcessEnd::begin();
    ended.set_value();
    // As at the application's end.
    ProcessEnd::awaitErrands();
    loaded.bridge.reset();
    EXPECT_EQ(keychain->removes, 1) << "the sign-out was dropped";
}

// Fault mended: the keyring queue dropped everything queued once the end had begun, the sign-out
// included, so the token stayed and the next start was signed in again.
TEST(SignOutAtTheEnd, ASignOutAskedForBeforeTheEndIsDone) {
    const auto phase = Environment::process().get(phaseVariable);
    if (phase == "end") return aSignOutQueuedAsTheEndBegins();
    if (phase == "read") return keyringReadBack();
    TempDir dir;
    EXPECT_EQ(
        keyringAfterTheEnd("SignOutAtTheEnd.ASignOutAskedForBeforeTheEndIsDone", phaseVariable, dir.path()),
        "none");
}

}  // namespace
}  // namespace pelko::test
