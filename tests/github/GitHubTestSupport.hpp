#pragma once
// Fakes at the GitHub subsystem's seams: an in-memory keyring and delegates that record their calls;
// and a reader of the form-encoded fields that requests and sign-in addresses carry.
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "github/GitHubOAuthCoordinatorDelegate.hpp"
#include "github/GitTokenRefresherDelegate.hpp"
#include "github/KeychainStore.hpp"
#include "github/RefreshScheduler.hpp"
#include "github/UrlEncoding.hpp"

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
    void remove(const std::string& service, const std::string& account) override {
        std::lock_guard lock(mutex_);
        items_.erase(service + "/" + account);
    }
    bool refuseSaves = false;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> items_;
};

// Records delegate calls (from any thread) and lets the test wait for them.
class RecordingDelegate final : public GitHubOAuthCoordinatorDelegate, public GitTokenRefresherDelegate {
  public:
    struct Call {
        std::string kind;  // "complete", "fail", "refresh", "refreshFail"
        std::string detail;
        std::optional<OAuthTokenRecord> record;
        bool onCallerThread;
    };

    void gitHubOAuthCoordinatorDidComplete(GitHubOAuthCoordinating&,
                                           const OAuthTokenRecord& record) override {
        add({"complete", "", record, std::this_thread::get_id() == testThread});
    }
    void gitHubOAuthCoordinatorDidFail(GitHubOAuthCoordinating&, const std::string& description) override {
        add({"fail", description, std::nullopt, std::this_thread::get_id() == testThread});
    }
    void gitTokenRefresherDidRefresh(GitTokenRefreshing&, const OAuthTokenRecord& record) override {
        add({"refresh", "", record, std::this_thread::get_id() == testThread});
    }
    void gitTokenRefresherDidFail(GitTokenRefreshing&, const std::string& description) override {
        add({"refreshFail", description, std::nullopt, std::this_thread::get_id() == testThread});
    }

    std::vector<Call> waitFor(size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(60), [&] { return calls_.size() >= count; });
        return calls_;
    }
    std::vector<Call> calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    std::thread::id testThread = std::this_thread::get_id();

  private:
    void add(Call call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Call> calls_;
};

// A scheduler the test fires by hand.
class ManualScheduler final : public RefreshScheduler {
  public:
    void scheduleRepeating(std::chrono::milliseconds interval, std::function<void()> handler) override {
        ++schedules;
        this->interval = interval;
        this->handler = std::move(handler);
    }
    void cancel() override {
        ++cancels;
        handler = nullptr;
    }
    int schedules = 0;
    int cancels = 0;
    std::chrono::milliseconds interval{0};
    std::function<void()> handler;
};

}  // namespace pelko::test
