// SystemKeychainStore against gnome-keyring: the unlocked one that scripts/test starts in a private
// D-Bus session, and a locked one of the test's own; GitAuthManager's item over an in-memory keyring.
#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "github/GitAuthManager.hpp"
#include "github/GitHubTestSupport.hpp"
#include "github/SystemKeychainStore.hpp"
#include "platform/Environment.hpp"
#include "platform/Uuid.hpp"
#include "support/PrivateKeyring.hpp"
#include "support/TestInChild.hpp"
#include "support/TestSupport.hpp"

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
    void TearDown() override {
        if (!IsSkipped()) {
            EXPECT_TRUE(store.remove(service, "default"));
        }
    }
};

TEST_F(SystemKeychainStoreTest, StoresReplacesLoadsAndDeletesOneItem) {
    ASSERT_FALSE(store.load(service, "default")) << "the item should not exist yet";
    ASSERT_TRUE(store.save("first", service, "default")) << "no unlocked default collection";
    EXPECT_EQ(store.load(service, "default"), "first");

    ASSERT_TRUE(store.save(std::string("sec\0ond", 7), service, "default"));
    EXPECT_EQ(store.load(service, "default"), std::string("sec\0ond", 7));
    EXPECT_FALSE(store.load(service, "other")) << "account is part of the address";

    EXPECT_TRUE(store.remove(service, "default"));
    EXPECT_FALSE(store.load(service, "default"));
    EXPECT_TRUE(store.remove(service, "default")) << "a missing item is no failure";
}

// The item's text is what later versions read back, so it is checked as written.
TEST(GitAuthManagerTest, StoresTheRecordAsItsJsonAndReadsUndecodableItemsAsNoToken) {
    auto keychain = std::make_shared<test::MemoryKeychain>();
    GitAuthManager manager(keychain);
    OAuthTokenRecord record{
        "secret-access", "secret-refresh", *Date::parseIso("2030-06-01T12:00:00Z"), {"repo", "user"},
        "bearer",        "octo",           "https://avatars.example/octo.png"};
    manager.saveToken(record);
    EXPECT_EQ(
        keychain->load(GitAuthManager::service, GitAuthManager::account),
        R"({"accessToken":"secret-access","refreshToken":"secret-refresh","expiresAt":"2030-06-01T12:00:00Z",)"
        R"("scope":["repo","user"],"tokenType":"bearer","accountLogin":"octo",)"
        R"("accountAvatarURL":"https:\/\/avatars.example\/octo.png"})");
    EXPECT_EQ(manager.loadToken(), record);

    const char* items[] = {
        "not json",
        R"({"accessToken":"a","expiresAt":"2026-03-01T09:30:00Z","scope":[],"tokenType":"bearer"})",
        R"({"accessToken":"a","refreshToken":"r","expiresAt":"2026-03-01T09:30:00.5Z","scope":[],"tokenType":"bearer"})",
    };
    for (const char* item : items) {
        keychain->save(item, GitAuthManager::service, GitAuthManager::account);
        EXPECT_FALSE(manager.loadToken()) << item;
        EXPECT_EQ(keychain->load(GitAuthManager::service, GitAuthManager::account), item) << "left in place";
    }
}

// A refused token goes only while it is still the stored one: a refresh or a new sign-in stays.
TEST(GitAuthManagerTest, DeletesATokenOnlyWhileItIsTheStoredOne) {
    auto keychain = std::make_shared<test::MemoryKeychain>();
    GitAuthManager manager(keychain);
    EXPECT_FALSE(manager.deleteTokenIfCurrent("gho_old"));
    OAuthTokenRecord record{"gho_new", "ghr_r", Date::distantFuture(), {"repo"},
                            "bearer",  "octo",  std::nullopt};
    manager.saveToken(record);
    EXPECT_FALSE(manager.deleteTokenIfCurrent("gho_old"));
    EXPECT_EQ(manager.loadToken(), record);
    EXPECT_TRUE(manager.deleteTokenIfCurrent("gho_new"));
    EXPECT_FALSE(manager.loadToken());
}

constexpr const char* childVariable = "PELKO_LOCKED_KEYRING_CHILD";

// The password test::PrivateKeyring gives its keyring.
constexpr const char* privateKeyringPassword = "pelko-e2e";

// Returns the default collection's object path.
std::string lockDefaultCollection() {
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    EXPECT_TRUE(service);
    if (!service) return {};
    SecretCollection* collection = secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT,
                                                                    SECRET_COLLECTION_NONE, nullptr, &error);
    EXPECT_TRUE(collection);
    if (!collection) return {};
    GList* objects = g_list_append(nullptr, collection);
    secret_service_lock_sync(service, objects, nullptr, nullptr, &error);
    g_list_free(objects);
    g_clear_error(&error);
    EXPECT_TRUE(secret_collection_get_locked(collection));
    std::string path = g_dbus_proxy_get_object_path(G_DBUS_PROXY(collection));
    g_object_unref(collection);
    g_object_unref(service);
    return path;
}

// Unlocks with the keyring's password through gnome-keyring's own interface for that, which never
// prompts (the Secret Service's Unlock would).
void unlockCollection(const std::string& path) {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    ASSERT_TRUE(bus);
    GVariant* opened = g_dbus_connection_call_sync(
        bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
        "OpenSession", g_variant_new("(sv)", "plain", g_variant_new_string("")), G_VARIANT_TYPE("(vo)"),
        G_DBUS_CALL_FLAGS_NONE, 30000, nullptr, &error);
    ASSERT_TRUE(opened) << error->message;
    GVariant* output = nullptr;
    const char* session = nullptr;
    g_variant_get(opened, "(v&o)", &output, &session);
    std::string password = privateKeyringPassword;
    GVariant* secret = g_variant_new(
        "(o@ay@ays)", session, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, password.data(), password.size(), 1), "text/plain");
    GVariant* unlocked = g_dbus_connection_call_sync(
        bus, "org.freedesktop.secrets", "/org/freedesktop/secrets",
        "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "UnlockWithMasterPassword",
        g_variant_new("(o@(oayays))", path.c_str(), secret), nullptr, G_DBUS_CALL_FLAGS_NONE, 30000, nullptr,
        &error);
    EXPECT_TRUE(unlocked) << (error ? error->message : "");
    g_clear_error(&error);
    if (unlocked) g_variant_unref(unlocked);
    g_variant_unref(output);
    g_variant_unref(opened);
    g_object_unref(bus);
}

void runChecksOnLockedKeyring() {
    auto keychain = std::make_shared<SystemKeychainStore>();
    GitAuthManager manager(keychain);
    OAuthTokenRecord record{"gho_a",  "ghr_r",   Date::distantFuture(), {"repo"},
                            "bearer", "octocat", std::nullopt};
    manager.saveToken(record);
    ASSERT_EQ(manager.loadToken(), record);

    std::string collection = lockDefaultCollection();
    EXPECT_FALSE(manager.loadToken());
    EXPECT_FALSE(manager.hasToken());
    EXPECT_THROW(manager.saveToken(record), GitAuthManagerError);

    // A delete that cannot reach the locked item says so: once unlocked, the token is still there.
    EXPECT_FALSE(manager.deleteToken());
    EXPECT_NE(manager.deleteToken("ghr_r"), GitAuthManager::DeleteOutcome::deleted);
    unlockCollection(collection);
    EXPECT_EQ(manager.loadToken(), record);
    EXPECT_TRUE(manager.deleteToken());
    EXPECT_FALSE(manager.loadToken());
}

// A locked keyring reads as no token, refuses saves and keeps its items against deletes. The checks run in a
// child of this test program on a private bus with its own gnome-keyring, which the child locks; the parent
// waits for the child with a deadline, in case an unlock prompt is ever waited for.
TEST(LockedKeyring, LookupsAndSavesNeverWaitForAPrompt) {
    if (Environment::process().get(childVariable)) {
        runChecksOnLockedKeyring();
        return;
    }
    test::TempDir folder;
    test::PrivateKeyring keyring(folder.path());
    ASSERT_TRUE(keyring.ready) << "dbus-daemon or gnome-keyring-daemon could not start";

    auto status = test::runTestInChild(
        "LockedKeyring.LookupsAndSavesNeverWaitForAPrompt",
        {"DBUS_SESSION_BUS_ADDRESS=" + keyring.address, std::string(childVariable) + "=1"},
        std::chrono::seconds(120));
    ASSERT_TRUE(status) << "the keyring checks did not finish: a lookup or save waited for a prompt";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "the checks on the locked keyring failed";
}

}  // namespace
}  // namespace pelko
