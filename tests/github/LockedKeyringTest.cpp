// A locked keyring reads as no token and refuses saves. The checks run in a child of this test
// program on a private bus with its own gnome-keyring, which the child locks; the parent waits for the
// child with a deadline, in case an unlock prompt is ever waited for.
#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "github/GitAuthManager.hpp"
#include "github/SystemKeychainStore.hpp"
#include "platform/Environment.hpp"
#include "support/PrivateKeyring.hpp"
#include "support/TestSupport.hpp"

namespace pelko {
namespace {

constexpr const char* childVariable = "PELKO_LOCKED_KEYRING_CHILD";

void lockDefaultCollection() {
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    ASSERT_TRUE(service);
    SecretCollection* collection = secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT,
                                                                    SECRET_COLLECTION_NONE, nullptr, &error);
    ASSERT_TRUE(collection);
    GList* objects = g_list_append(nullptr, collection);
    secret_service_lock_sync(service, objects, nullptr, nullptr, &error);
    g_list_free(objects);
    g_clear_error(&error);
    EXPECT_TRUE(secret_collection_get_locked(collection));
    g_object_unref(collection);
    g_object_unref(service);
}

void runChecksOnLockedKeyring() {
    auto keychain = std::make_shared<SystemKeychainStore>();
    GitAuthManager manager(keychain);
    OAuthTokenRecord record{"gho_a",  "ghr_r",   Date::distantFuture(), {"repo"},
                            "bearer", "octocat", std::nullopt};
    manager.saveToken(record);
    ASSERT_EQ(manager.loadToken(), record);

    lockDefaultCollection();
    EXPECT_FALSE(manager.loadToken());
    EXPECT_FALSE(manager.hasToken());
    EXPECT_THROW(manager.saveToken(record), GitAuthManagerError);
}

TEST(LockedKeyring, LookupsAndSavesNeverWaitForAPrompt) {
    if (Environment::process().get(childVariable)) {
        runChecksOnLockedKeyring();
        return;
    }
    test::TempDir folder;
    test::PrivateKeyring keyring(folder.path());
    ASSERT_TRUE(keyring.ready) << "dbus-daemon or gnome-keyring-daemon could not start";

    auto values = Environment::process().all();
    values["DBUS_SESSION_BUS_ADDRESS"] = keyring.address;
    values[childVariable] = "1";
    std::vector<std::string> entries;
    for (const auto& [name, value] : values) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=LockedKeyring.LookupsAndSavesNeverWaitForAPrompt";
    char* argv[] = {program.data(), filter.data(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()), 0);

    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "the keyring checks did not finish: a lookup or save waited for a prompt";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the checks on the locked keyring failed";
}

}  // namespace
}  // namespace pelko
