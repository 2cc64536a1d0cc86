#pragma once
// RepeatingTimer: calls a handler every `interval`, either on a SerialQueue or on the main queue.
//
// Guarantees: ticks never overlap and never pile up (a slow handler delays the next tick). After
// `cancel()` returns, no new tick starts; a tick running on another thread at that moment finishes.
// Destroying the timer cancels it. Start again by calling `start` anew (it cancels the previous run).
#include <chrono>
#include <functional>
#include <memory>

namespace pelko {

class SerialQueue;

class RepeatingTimer {
  public:
    // `queue` null: ticks run on the main queue.
    explicit RepeatingTimer(std::shared_ptr<SerialQueue> queue = nullptr);
    ~RepeatingTimer();
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

    // The first tick comes after one interval.
    void start(std::chrono::milliseconds interval, std::function<void()> handler);
    void cancel();
    bool isRunning() const;

  private:
    struct State;
    std::shared_ptr<SerialQueue> queue_;
    std::shared_ptr<State> state_;
};

}  // namespace pelko
