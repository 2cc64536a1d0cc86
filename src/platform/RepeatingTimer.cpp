#include "platform/RepeatingTimer.hpp"

#include <glib.h>

#include <mutex>
#include <utility>

#include "platform/SerialQueue.hpp"

namespace pelko {

// Each start() opens a new generation; a scheduled tick of an older generation does nothing.
struct RepeatingTimer::State {
    std::mutex mutex;
    std::uint64_t generation = 0;
    bool running = false;
    std::chrono::milliseconds interval{0};
    std::shared_ptr<std::function<void()>> handler;
    const bool onMain;
    const std::weak_ptr<SerialQueue> queue;
    WorkItem pendingOnQueue;
    GSource* pendingOnMain = nullptr;  // a reference we hold, so it can be destroyed even after it fired

    explicit State(const std::shared_ptr<SerialQueue>& serialQueue)
        : onMain(!serialQueue), queue(serialQueue) {}

    ~State() {
        if (pendingOnMain) g_source_unref(pendingOnMain);
    }

    // Stops the scheduled tick; returns the main-context source to destroy outside the lock.
    GSource* stopPending() {
        pendingOnQueue.cancel();
        return std::exchange(pendingOnMain, nullptr);
    }

    static void schedule(const std::shared_ptr<State>& state, std::uint64_t generation);
    static void tick(const std::shared_ptr<State>& state, std::uint64_t generation);
};

namespace {

void destroySource(GSource* source) {
    if (!source) return;
    g_source_destroy(source);
    g_source_unref(source);
}

}  // namespace

void RepeatingTimer::State::schedule(const std::shared_ptr<State>& state, std::uint64_t generation) {
    GSource* previous = nullptr;
    {
        std::lock_guard lock(state->mutex);
        if (state->generation != generation) return;
        if (!state->onMain) {
            if (auto queue = state->queue.lock()) {
                state->pendingOnQueue =
                    queue->asyncAfter(state->interval, [state, generation] { tick(state, generation); });
            }
            return;
        }
        struct Tick {
            std::shared_ptr<State> state;
            std::uint64_t generation;
        };
        GSource* source = g_timeout_source_new(static_cast<guint>(state->interval.count()));
        g_source_set_callback(
            source,
            [](gpointer data) -> gboolean {
                auto* tickData = static_cast<Tick*>(data);
                tick(tickData->state, tickData->generation);
                return G_SOURCE_REMOVE;
            },
            new Tick{state, generation}, [](gpointer data) { delete static_cast<Tick*>(data); });
        g_source_attach(source, g_main_context_default());
        previous = std::exchange(state->pendingOnMain, source);
    }
    if (previous) g_source_unref(previous);  // the one that just fired
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
    : queue_(std::move(queue)), state_(std::make_shared<State>(queue_)) {}

RepeatingTimer::~RepeatingTimer() {
    cancel();
}

void RepeatingTimer::start(std::chrono::milliseconds interval, std::function<void()> handler) {
    std::uint64_t generation;
    std::shared_ptr<std::function<void()>> previousHandler;
    GSource* previousSource;
    {
        std::lock_guard lock(state_->mutex);
        previousSource = state_->stopPending();
        generation = ++state_->generation;
        state_->running = true;
        state_->interval = interval;
        previousHandler =
            std::exchange(state_->handler, std::make_shared<std::function<void()>>(std::move(handler)));
    }
    destroySource(previousSource);
    State::schedule(state_, generation);
}

void RepeatingTimer::cancel() {
    std::shared_ptr<std::function<void()>> handler;  // released outside the lock
    GSource* source;
    {
        std::lock_guard lock(state_->mutex);
        source = state_->stopPending();
        ++state_->generation;
        state_->running = false;
        handler = std::move(state_->handler);
    }
    destroySource(source);
}

bool RepeatingTimer::isRunning() const {
    std::lock_guard lock(state_->mutex);
    return state_->running;
}

}  // namespace pelko
