// SystemKeychainStore against the gnome-keyring that scripts/test starts (unlocked, in a private
// D-Bus session), and GitAuthManager's refusal to report a sign-in that was not stored.
#include <gtest/gtest.h>

#include "github/GitAuthManager.hpp"
#include "github/SystemKeychainStore.hpp"
#include "platform/Environment.hpp"
#include "platform/Uuid.hpp"

namespace pelko {
namespace {

class SystemKeychainStoreTest : public ::testing::Test {
  protected:
    // A fresh service per test, so runs never see each other's items.
    std::string service = "app.pelko.test." + Uuid::random().string();
    SystemKeychainStore store;

    void SetUp() override {
        if (!Environment::process().get("PELKO_TEST_KEYRING"))
            GTEST_SKIP() << "needs the unlocked test keyring that scripts/test starts";
    }
    void TearDown() override { store.remove(service, "default"); }
};

TEST_F(SystemKeychainStoreTest, StoresReplacesLoadsAndDeletesOneItem) {
    ASSERT_FALSE(store.load(service, "default")) << "the item should not exist yet";
    ASSERT_TRUE(store.save("first", service, "default")) << "no unlocked default collection";
    EXPECT_EQ(store.load(service, "default"), "first");

    ASSERT_TRUE(store.save(std::string("sec\0ond", 7), service, "default"));
    EXPECT_EQ(store.load(service, "default"), std::string("sec\0ond", 7));
    EXPECT_FALSE(store.load(service, "other")) << "account is part of the address";

    store.remove(service, "default");
    EXPECT_FALSE(store.load(service, "default"));
    store.remove(service, "default");  // a missing item is harmless
}

class RefusingKeychain final : public KeychainStore {
  public:
    std::optional<std::string> load(const std::string&, const std::string&) const override { return item; }
    bool save(const std::string&, const std::string&, const std::string&) override { return false; }
    void remove(const std::string&, const std::string&) override { item.reset(); }
    std::optional<std::string> item;
};

TEST(GitAuthManagerTest, AFailedKeyringSaveIsThrownNotSwallowed) {
    auto keychain = std::make_shared<RefusingKeychain>();
    GitAuthManager manager(keychain);
    OAuthTokenRecord record{"a", "r", Date::distantFuture(), {}, "bearer", {}, {}};
    EXPECT_THROW(manager.saveToken(record), GitAuthManagerError);
    EXPECT_FALSE(manager.hasToken());
}

TEST(GitAuthManagerTest, UndecodableItemsReadAsNoTokenAndStayInPlace) {
    auto keychain = std::make_shared<RefusingKeychain>();
    GitAuthManager manager(keychain);
    const char* items[] = {
        "not json",
        R"({"accessToken":"a","expiresAt":"2026-03-01T09:30:00Z","scope":[],"tokenType":"bearer"})",
        R"({"accessToken":"a","refreshToken":"r","expiresAt":"2026-03-01T09:30:00.5Z","scope":[],"tokenType":"bearer"})",
    };
    for (const char* item : items) {
        keychain->item = item;
        EXPECT_FALSE(manager.loadToken()) << item;
        EXPECT_EQ(keychain->item, item);
    }
}

}  // namespace
}  // namespace pelko
