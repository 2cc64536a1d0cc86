#pragma once
// Helpers for the terminal tests: a TerminalBridging that records every event (safe from reader
// threads) and can stand for a page that falls behind, and waits on the main queue.
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/MainQueue.hpp"
#include "terminal/TerminalBridging.hpp"

namespace pelko::test {

struct RecordedTerminalEvent {
    std::string type;  // "snapshot", "created", "status", "exit", "error", "output", "activity", "resize"
    std::string sessionId;
    std::string text;  // status word, error message or output bytes
    std::optional<std::int32_t> code;
    std::optional<TerminalSnapshotPayload> snapshot;
    std::optional<TerminalCreatedPayload> created;
    int cols = 0;
    int rows = 0;
};

class RecordingTerminalBridge final : public TerminalBridging {
  public:
    void dispatchTerminalSnapshot(const TerminalSnapshotPayload& payload) override {
        RecordedTerminalEvent event{"snapshot"};
        event.snapshot = payload;
        add(std::move(event));
    }
    void dispatchTerminalCreated(const TerminalCreatedPayload& payload) override {
        RecordedTerminalEvent event{"created", payload.sessionId};
        event.created = payload;
        add(std::move(event));
    }
    void dispatchTerminalStatus(const std::string& sessionId, const std::string& status,
                                std::optional<std::int32_t> exitCode) override {
        add({"status", sessionId, status, exitCode});
    }
    void dispatchTerminalExit(const std::string& sessionId, std::int32_t exitCode) override {
        add({"exit", sessionId, {}, exitCode});
    }
    void dispatchTerminalError(const std::string& sessionId, const std::string& message) override {
        add({"error", sessionId, message});
    }
    void dispatchTerminalOutput(const std::string& sessionId, std::span<const std::uint8_t> data) override {
        std::lock_guard lock(mutex_);
        output_[sessionId].append(data.begin(), data.end());
        events_.push_back({"output", sessionId, std::string(data.begin(), data.end())});
    }
    // Output counts as taken at once, unless the test holds the acknowledgements back until
    // `acknowledgeAll`, as a page that falls behind does.
    void deliverTerminalOutput(const std::string& sessionId, std::span<const std::uint8_t> data,
                               std::function<void()> onDelivered) override {
        dispatchTerminalOutput(sessionId, data);
        std::unique_lock lock(mutex_);
        ++deliveries_;
        if (holdAcknowledgements) {
            held_.push_back(std::move(onDelivered));
            return;
        }
        lock.unlock();
        onDelivered();
    }
    void dispatchTerminalActivity(const std::string& sessionId) override { add({"activity", sessionId}); }
    void dispatchTerminalResize(const std::string& sessionId, int cols, int rows) override {
        RecordedTerminalEvent event{"resize", sessionId};
        event.cols = cols;
        event.rows = rows;
        add(std::move(event));
    }

    std::vector<RecordedTerminalEvent> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<RecordedTerminalEvent> events(const std::string& type) const {
        std::vector<RecordedTerminalEvent> result;
        for (auto& event : events()) {
            if (event.type == type) result.push_back(event);
        }
        return result;
    }
    std::string output(const std::string& sessionId) const {
        std::lock_guard lock(mutex_);
        auto it = output_.find(sessionId);
        return it == output_.end() ? std::string() : it->second;
    }
    bool outputContains(const std::string& sessionId, const std::string& text) const {
        return output(sessionId).find(text) != std::string::npos;
    }
    bool hasStatus(const std::string& sessionId, const std::string& status) const {
        for (auto& event : events("status")) {
            if (event.sessionId == sessionId && event.text == status) return true;
        }
        return false;
    }
    std::optional<TerminalSnapshotPayload> lastSnapshot() const {
        auto snapshots = events("snapshot");
        if (snapshots.empty()) return std::nullopt;
        return snapshots.back().snapshot;
    }
    std::atomic<bool> holdAcknowledgements = false;
    void acknowledgeAll() {
        std::deque<std::function<void()>> held;
        {
            std::lock_guard lock(mutex_);
            held.swap(held_);
        }
        for (auto& acknowledge : held) acknowledge();
    }
    std::size_t heldCount() const {
        std::lock_guard lock(mutex_);
        return held_.size();
    }
    // Output events sent through `deliverTerminalOutput`, that is with flow control.
    std::size_t deliveries() const {
        std::lock_guard lock(mutex_);
        return deliveries_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
        output_.clear();
    }

  private:
    void add(RecordedTerminalEvent event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    mutable std::mutex mutex_;
    std::vector<RecordedTerminalEvent> events_;
    std::map<std::string, std::string> output_;
    std::size_t deliveries_ = 0;
    std::deque<std::function<void()>> held_;
};

inline bool waitFor(const std::function<bool()>& predicate,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return MainQueue::shared().drainUntil(predicate, timeout);
}

}  // namespace pelko::test
