#pragma once
// Fakes at the bridge's seams and helpers that decode the scripts the bridge evaluates.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/WebBridge.hpp"
#include "platform/Json.hpp"
#include "platform/MainQueue.hpp"

namespace pelko::test {

// A page message {"type", "payload"}; without a payload the key is left out.
inline Json message(const std::string& type, Json payload = nullptr) {
    Json body = Json::object();
    body["type"] = type;
    if (!payload.is_null()) body["payload"] = std::move(payload);
    return body;
}

// The delivery script for an envelope's JSON text, built the plain way the bridge's one-pass writer
// must match: the text as a single-quoted literal, backslashes and single quotes escaped.
inline std::string makeScript(std::string_view envelopeJson) {
    std::string script(WebBridge::scriptHead());
    for (char c : envelopeJson) {
        if (c == '\\' || c == '\'') script.push_back('\\');
        script.push_back(c);
    }
    script.append(WebBridge::scriptTail());
    return script;
}

// The event object inside one delivery script: checks the fixed head and tail, undoes the
// single-quote escaping and parses the JSON text the page would parse.
inline Json decodeScript(const std::string& script) {
    auto head = WebBridge::scriptHead();
    auto tail = WebBridge::scriptTail();
    EXPECT_GE(script.size(), head.size() + tail.size());
    EXPECT_EQ(script.substr(0, head.size()), head);
    EXPECT_EQ(script.substr(script.size() - tail.size()), tail);
    std::string escaped = script.substr(head.size(), script.size() - head.size() - tail.size());
    std::string text;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        char c = escaped[i];
        if (c == '\'') ADD_FAILURE() << "unescaped quote in " << escaped;
        if (c == '\\') {
            EXPECT_LT(i + 1, escaped.size());
            char next = escaped[++i];
            EXPECT_TRUE(next == '\\' || next == '\'') << "unexpected escape \\" << next;
            text.push_back(next);
        } else {
            text.push_back(c);
        }
    }
    auto event = json::parse(text);
    EXPECT_TRUE(event.has_value()) << text;
    return event.value_or(Json());
}

class RecordingWebView : public ScriptEvaluating {
  public:
    void evaluateScript(const std::string& script) override { scripts.push_back(script); }
    // With `holdNotifications`, a page that is busy: the scripts' completions wait, in order, for `runOne`.
    void evaluateScriptAndNotify(const std::string& script, std::function<void()> onEvaluated) override {
        evaluateScript(script);
        if (holdNotifications)
            running.push_back(std::move(onEvaluated));
        else
            onEvaluated();
    }
    void runOne() {
        auto done = std::move(running.front());
        running.pop_front();
        done();
    }

    std::vector<Json> events() const {
        std::vector<Json> result;
        for (const auto& script : scripts) result.push_back(decodeScript(script));
        return result;
    }
    std::vector<std::string> types() const {
        std::vector<std::string> result;
        for (const auto& event : events()) result.push_back(event["type"].get<std::string>());
        return result;
    }
    std::vector<Json> eventsOfType(const std::string& type) const {
        std::vector<Json> result;
        for (const auto& event : events()) {
            if (event["type"] == type) result.push_back(event["payload"]);
        }
        return result;
    }
    // Pumps the main queue until `count` scripts arrived.
    bool waitForCount(std::size_t count) {
        return MainQueue::shared().drainUntil([&] { return scripts.size() >= count; });
    }

    std::vector<std::string> scripts;
    bool holdNotifications = false;
    std::deque<std::function<void()>> running;
};

// A bridge with a recording web view that has finished loading.
struct LoadedBridge {
    std::shared_ptr<WebBridge> bridge = WebBridge::create();
    std::shared_ptr<RecordingWebView> webView = std::make_shared<RecordingWebView>();

    LoadedBridge() {
        bridge->attachWebView(webView);
        bridge->notifyWebViewDidFinishNavigation();
    }
};

class FakeGitService : public GitServicing {
  public:
    void setEventSink(std::weak_ptr<GitServiceEventSink> sink) override { this->sink = std::move(sink); }
    void refreshStatus(const std::optional<Uuid>& projectID) override {
        calls.push_back("refreshStatus " + (projectID ? projectID->string() : std::string("none")));
    }
    void fetchStatusDetail(const Uuid& id) override { calls.push_back("fetchStatusDetail " + id.string()); }
    void commit(const Uuid& id, const std::string& message) override {
        calls.push_back("commit " + id.string() + " [" + message + "]");
    }
    void push(const Uuid& id) override { calls.push_back("push " + id.string()); }
    void pull(const Uuid& id) override { calls.push_back("pull " + id.string()); }
    void fetch(const Uuid& id) override { calls.push_back("fetch " + id.string()); }
    void fetchDiff(const Uuid& id, const std::vector<GitDiffTarget>& targets) override {
        std::string text = "fetchDiff " + id.string();
        for (const auto& target : targets) {
            const char* stage = target.stage == GitDiffStage::staged     ? "staged"
                                : target.stage == GitDiffStage::unstaged ? "unstaged"
                                                                         : "head";
            text += " " + target.path + ":" + stage;
        }
        calls.push_back(text);
    }
    void fetchCommitDiff(const Uuid& id, const std::string& commit,
                         const std::optional<std::string>& path) override {
        calls.push_back("fetchCommitDiff " + id.string() + " " + commit + " " + path.value_or("<none>"));
    }
    void fetchWorkingTree(const Uuid& id) override { calls.push_back("fetchWorkingTree " + id.string()); }
    void fetchBranchMap(const Uuid& id, std::int64_t limit) override {
        calls.push_back("fetchBranchMap " + id.string() + " " + std::to_string(limit));
    }
    void fetchCommitHistory(const Uuid& id, const std::optional<std::string>& cursor, std::int64_t pageSize,
                            const std::optional<std::string>& requestId) override {
        calls.push_back("fetchCommitHistory " + id.string() + " " + cursor.value_or("<none>") + " " +
                        std::to_string(pageSize) + " " + requestId.value_or("<none>"));
    }
    void fetchCommitGraph(const Uuid& id, std::int64_t pageSize) override {
        calls.push_back("fetchCommitGraph " + id.string() + " " + std::to_string(pageSize));
    }
    void shutdown() override { calls.push_back("shutdown"); }
    void fetchRemoteTracking(const Uuid& id) override {
        calls.push_back("fetchRemoteTracking " + id.string());
    }
    void reachRefreshBarrier(const Uuid& id, const std::string& requestId) override {
        calls.push_back("reachRefreshBarrier " + id.string() + " " + requestId);
    }

    std::weak_ptr<GitServiceEventSink> sink;
    std::vector<std::string> calls;
};

class FakeDashboard : public DashboardControlling {
  public:
    void present(bool forceRefresh, const std::optional<std::string>& source) override {
        calls.push_back(std::string("present ") + (forceRefresh ? "force " : "noforce ") +
                        source.value_or("<none>"));
    }
    void dismiss() override { calls.push_back("dismiss"); }
    void noteCardOpened(const Uuid& projectId, const std::optional<std::string>& projectName) override {
        calls.push_back("noteCardOpened " + projectId.string() + " " + projectName.value_or("<none>"));
    }

    std::vector<std::string> calls;
};

class FakeAnalytics : public AnalyticsLogging {
  public:
    void log(const std::string& event, const AnalyticsProperties& properties) override {
        std::lock_guard lock(mutex);
        entries.push_back({event, properties});
    }

    std::mutex mutex;
    std::vector<std::pair<std::string, AnalyticsProperties>> entries;
};

class FakeAuth : public GitAuthProviding {
  public:
    bool hasToken() const override { return token.has_value(); }
    std::optional<OAuthTokenRecord> loadToken() const override {
        ++loads;
        return token;
    }
    // With `keepOnDelete`, a keyring that keeps the item (a locked one): the delete fails.
    bool deleteToken() override {
        ++deletions;
        if (keepOnDelete) return false;
        token.reset();
        return true;
    }

    std::optional<OAuthTokenRecord> token;
    mutable int loads = 0;
    int deletions = 0;
    bool keepOnDelete = false;
};

class FakeSecurityLogger : public SecurityEventLogging {
  public:
    struct Entry {
        SecurityEventAction action;
        std::optional<std::string> login;
        std::optional<Metadata> metadata;
    };
    void log(SecurityEventAction action, const std::optional<std::string>& login,
             const std::optional<Metadata>& metadata) override {
        std::lock_guard lock(mutex);
        entries.push_back({action, login, metadata});
    }

    std::mutex mutex;
    std::vector<Entry> entries;
};

class FakeCoordinator : public GitHubOAuthCoordinating {
  public:
    void setDelegate(std::weak_ptr<GitHubOAuthCoordinatorDelegate> delegate) override {
        this->delegate = std::move(delegate);
    }
    void startAuthorization(Initiator) override { ++starts; }

    std::weak_ptr<GitHubOAuthCoordinatorDelegate> delegate;
    int starts = 0;
};

class FakeRefresher : public GitTokenRefreshing {
  public:
    void setDelegate(std::weak_ptr<GitTokenRefresherDelegate> delegate) override {
        this->delegate = std::move(delegate);
    }
    void stop() override { ++stops; }

    std::weak_ptr<GitTokenRefresherDelegate> delegate;
    int stops = 0;
};

class FakeFolderPicker : public FolderPicking {
  public:
    void pickFolders(Completion completion) override { pending = std::move(completion); }

    Completion pending;
};

inline OAuthTokenRecord sampleToken(std::optional<std::string> login = "octo") {
    OAuthTokenRecord record;
    record.accessToken = "secret-access";
    record.refreshToken = "secret-refresh";
    record.expiresAt = *Date::parseIso("2030-06-01T12:00:00Z");
    record.scope = {"repo", "user"};
    record.tokenType = "bearer";
    record.accountLogin = std::move(login);
    record.accountAvatarURL = "https://avatars.example/octo.png";
    return record;
}

}  // namespace pelko::test
