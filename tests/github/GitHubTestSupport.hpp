#pragma once
// Fakes at the GitHub subsystem's seams: an in-memory keyring, delegates that record their calls and a
// scheduler fired by hand; a reader of form-encoded fields and a catcher of one error type; a keyring
// that hooks into another's calls, and the two starts that check what the end leaves in a real one.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "github/GitAuthManager.hpp"
#include "github/GitHubOAuthCoordinatorDelegate.hpp"
#include "github/GitTokenRefresherDelegate.hpp"
#include "github/KeychainStore.hpp"
#include "github/RefreshScheduler.hpp"
#include "github/SystemKeychainStore.hpp"
#include "github/UrlEncoding.hpp"
#include "platform/Environment.hpp"
#include "support/PrivateKeyring.hpp"
#include "support/TestInChild.hpp"
#include "support/TestSupport.hpp"

namespace pelko::test {

// The fields of a form-encoded text ("a=1&b=2"), names and values decoded.
inline std::map<std::string, std::string> formFields(const std::string& text) {
    std::map<std::string, std::string> fields;
    size_t position = 0;
    while (position < text.size()) {
        size_t amp = text.find('&', position);
        std::string pair =
            text.substr(position, amp == std::string::npos ? std::string::npos : amp - position);
        size_t equals = pair.find('=');
        fields[urlencoding::decode(pair.substr(0, equals))] = urlencoding::decode(pair.substr(equals + 1));
        if (amp == std::string::npos) break;
        position = amp + 1;
    }
    return fields;
}

class MemoryKeychain final : public KeychainStore {
  public:
    std::optional<std::string> load(const std::string& service, const std::string& account) const override {
        std::lock_guard lock(mutex_);
        auto found = items_.find(service + "/" + account);
        if (found == items_.end()) return std::nullopt;
        return found->second;
    }
    bool save(const std::string& data, const std::string& service, const std::string& account) override {
        std::lock_guard lock(mutex_);
        if (refuseSaves) return false;
        items_[service + "/" + account] = data;
        return true;
    }
    bool remove(const std::string& service, const std::string& account) override {
        std::lock_guard lock(mutex_);
        if (beforeRemove) beforeRemove();
        if (refuseRemoves) return false;
        items_.erase(service + "/" + account);
        return true;
    }
    bool refuseSaves = false;
    std::atomic<bool> refuseRemoves = false;  // as a keyring that keeps the item; set while a refresh waits
    std::function<void()> beforeRemove;       // runs as a removal is asked, before its answer

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> items_;
};

// Hands every call to `store`, counting loads and removals; `beforeLoad` runs with the load's number
// (from 1) before each load is handed on.
class HookedKeychain final : public KeychainStore {
  public:
    explicit HookedKeychain(std::shared_ptr<KeychainStore> store) : store_(std::move(store)) {}
    std::optional<std::string> load(const std::string& service, const std::string& account) const override {
        const int number = ++loads;
        if (beforeLoad) beforeLoad(number);
        return store_->load(service, account);
    }
    bool save(const std::string& data, const std::string& service, const std::string& account) override {
        return store_->save(data, service, account);
    }
    bool remove(const std::string& service, const std::string& account) override {
        ++removes;
        return store_->remove(service, account);
    }
    std::function<void(int)> beforeLoad;  // set before the calls begin
    mutable std::atomic<int> loads{0};
    std::atomic<int> removes{0};

  private:
    std::shared_ptr<KeychainStore> store_;
};

// What the end of the process leaves in a real keyring, checked by two starts of this test program on
// a private keyring's bus, as two starts of the application: `testName` runs again with `variable` set
// to "end", which does what the end meets, then with it set to "read", which hands what a new start
// finds to `keyringReadBack`. Returns that: "<access token> <refresh token>", "none", or "failed".
inline std::string keyringAfterTheEnd(const std::string& testName, const std::string& variable,
                                      const std::filesystem::path& folder) {
    PrivateKeyring keyring(folder / "keyring");
    if (!keyring.ready) return "failed: no private keyring";
    const auto found = folder / "found.txt";
    for (const char* phase : {"end", "read"}) {
        const auto status =
            runTestInChild(testName,
                           processEnvironmentWith({{"DBUS_SESSION_BUS_ADDRESS", keyring.address},
                                                   {variable, phase},
                                                   {"PELKO_TEST_KEYRING_FOUND", found.string()}}),
                           std::chrono::seconds(200));
        if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0)
            return std::string("failed: the ") + phase + " start failed";
    }
    return readFile(found);
}

// The "read" start of keyringAfterTheEnd.
inline void keyringReadBack() {
    GitAuthManager manager(std::make_shared<SystemKeychainStore>());
    const auto record = manager.loadToken();
    writeFile(*Environment::process().get("PELKO_TEST_KEYRING_FOUND"),
              record ? record->accessToken + " " + record->refreshToken : "none");
}

// Records delegate calls from any thread as "complete", "fail <description>", "refresh" or
// "refreshFail <description>", with the last record handed over and the thread of the last call.
class RecordingDelegate final : public GitHubOAuthCoordinatorDelegate, public GitTokenRefresherDelegate {
  public:
    void gitHubOAuthCoordinatorDidComplete(GitHubOAuthCoordinating&,
                                           const OAuthTokenRecord& record) override {
        add("complete", record);
    }
    void gitHubOAuthCoordinatorDidFail(GitHubOAuthCoordinating&, const std::string& description) override {
        add("fail " + description);
    }
    void gitTokenRefresherDidRefresh(GitTokenRefreshing&, const OAuthTokenRecord& record) override {
        add("refresh", record);
    }
    void gitTokenRefresherDidFail(GitTokenRefreshing&, const std::string& description) override {
        add("refreshFail " + description);
    }

    // The calls so far, once there are `count` of them (or a minute has passed).
    std::vector<std::string> calls(size_t count = 0) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(60), [&] { return calls_.size() >= count; });
        return calls_;
    }
    // Read once `calls` has returned the call.
    std::optional<OAuthTokenRecord> record;
    bool lastOnTestThread = false;

  private:
    void add(std::string call, std::optional<OAuthTokenRecord> handed = std::nullopt) {
        std::lock_guard lock(mutex_);
        if (handed) record = std::move(handed);
        lastOnTestThread = std::this_thread::get_id() == testThread_;
        calls_.push_back(std::move(call));
        changed_.notify_all();
    }
    const std::thread::id testThread_ = std::this_thread::get_id();
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> calls_;
};

// A scheduler the test fires by hand.
class ManualScheduler final : public RefreshScheduler {
  public:
    void scheduleRepeating(std::chrono::milliseconds interval, std::function<void()> handler) override {
        this->interval = interval;
        this->handler = std::move(handler);
    }
    void cancel() override { handler = nullptr; }
    std::chrono::milliseconds interval{0};
    std::function<void()> handler;
};

// The error of type E that `call` throws, or nothing when it returns.
template <class E, class Call>
std::optional<E> thrown(Call call) {
    try {
        call();
    } catch (const E& error) {
        return error;
    }
    return std::nullopt;
}

}  // namespace pelko::test
