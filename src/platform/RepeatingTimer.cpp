#include "platform/RepeatingTimer.hpp"

#include <glib.h>

#include <mutex>

#include "platform/SerialQueue.hpp"

namespace pelko {

// Each start() opens a new generation; a scheduled tick of an older generation does nothing.
struct RepeatingTimer::State {
    std::mutex mutex;
    std::uint64_t generation = 0;
    bool running = false;
    std::chrono::milliseconds interval{0};
    std::shared_ptr<std::function<void()>> handler;
    bool onMain = true;
    std::weak_ptr<SerialQueue> queue;
    WorkItem pending;

    static void schedule(const std::shared_ptr<State>& state, std::uint64_t generation);
    static void tick(const std::shared_ptr<State>& state, std::uint64_t generation);
};

void RepeatingTimer::State::schedule(const std::shared_ptr<State>& state, std::uint64_t generation) {
    std::lock_guard lock(state->mutex);
    if (state->generation != generation) return;
    if (!state->onMain) {
        if (auto queue = state->queue.lock()) {
            state->pending = queue->asyncAfter(state->interval, [state, generation] { tick(state, generation); });
        }
        return;
    }
    struct Tick {
        std::shared_ptr<State> state;
        std::uint64_t generation;
    };
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(state->interval.count()),
        [](gpointer data) -> gboolean {
            auto* tickData = static_cast<Tick*>(data);
            tick(tickData->state, tickData->generation);
            return G_SOURCE_REMOVE;
        },
        new Tick{state, generation}, [](gpointer data) { delete static_cast<Tick*>(data); });
}

void RepeatingTimer::State::tick(const std::shared_ptr<State>& state, std::uint64_t generation) {
    std::shared_ptr<std::function<void()>> handler;
    {
        std::lock_guard lock(state->mutex);
        if (state->generation != generation) return;
        handler = state->handler;
    }
    (*handler)();
    // The next tick is scheduled only now, so a slow handler delays it instead of piling ticks up.
    schedule(state, generation);
}

RepeatingTimer::RepeatingTimer(std::shared_ptr<SerialQueue> queue)
    : queue_(std::move(queue)), state_(std::make_shared<State>()) {}

RepeatingTimer::~RepeatingTimer() { cancel(); }

void RepeatingTimer::start(std::chrono::milliseconds interval, std::function<void()> handler) {
    std::uint64_t generation;
    {
        std::lock_guard lock(state_->mutex);
        state_->pending.cancel();
        generation = ++state_->generation;
        state_->running = true;
        state_->interval = interval;
        state_->handler = std::make_shared<std::function<void()>>(std::move(handler));
        state_->onMain = !queue_;
        state_->queue = queue_;
    }
    State::schedule(state_, generation);
}

void RepeatingTimer::cancel() {
    std::shared_ptr<std::function<void()>> handler;
    {
        std::lock_guard lock(state_->mutex);
        state_->pending.cancel();
        ++state_->generation;
        state_->running = false;
        handler = std::move(state_->handler);
    }
}

bool RepeatingTimer::isRunning() const {
    std::lock_guard lock(state_->mutex);
    return state_->running;
}

}  // namespace pelko
