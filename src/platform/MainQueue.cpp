#include "platform/MainQueue.hpp"

#include <glib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/BlockingCall.hpp"

namespace pelko {

namespace {

// Static initialisation runs on the thread that later runs main().
const std::thread::id mainThreadId = std::this_thread::get_id();

constexpr gint64 notDue = -1;

struct Pending {
    Pending();

    std::mutex mutex;
    std::deque<std::function<void()>> work;
    // Written under `mutex`, read without it by the sources' prepare and check on the main thread.
    std::atomic<bool> queued = false;
    std::atomic<gint64> overdueAt = notDue;  // monotonic microseconds; notDue while nothing waits
    // Main thread only: loop iterations prepared since the last turn of closures.
    unsigned iterationsSinceTurn = 0;
};

// Never destroyed: a thread that posts while the process exits never touches freed state.
Pending& pending() {
    static Pending* const instance = new Pending;
    return *instance;
}

gint64 overdueFromNow() {
    return g_get_monotonic_time() +
           std::chrono::duration_cast<std::chrono::microseconds>(MainQueue::overdueAfter).count();
}

// Runs the next queued closure; false when the queue is empty.
bool runNext() {
    auto& p = pending();
    std::function<void()> work;
    {
        std::lock_guard lock(p.mutex);
        if (p.work.empty()) return false;
        work = std::move(p.work.front());
        p.work.pop_front();
        if (p.work.empty()) {
            p.queued = false;
            p.overdueAt = notDue;
        }
    }
    work();
    return true;
}

// One turn: at most what was queued on entry and at most one time slice, so input and drawing get
// their turn between batches however fast producers add work.
void runTurn() {
    auto& p = pending();
    std::size_t batch;
    {
        std::lock_guard lock(p.mutex);
        batch = p.work.size();
    }
    const auto deadline = std::chrono::steady_clock::now() + MainQueue::timeSlice;
    for (std::size_t i = 0; i < batch && runNext(); ++i) {
        if (std::chrono::steady_clock::now() >= deadline) break;
    }
    p.iterationsSinceTurn = 0;
    std::lock_guard lock(p.mutex);
    if (!p.work.empty()) p.overdueAt = overdueFromNow();
}

// A closure that throws ends the process here rather than unwinding through GLib.
gboolean dispatchTurn(GSource*, GSourceFunc, gpointer) noexcept {
    runTurn();
    return G_SOURCE_CONTINUE;
}

// The quiet path, below GTK's input, layout and drawing: ready whenever something is queued.
gboolean idlePrepare(GSource*, gint* timeout) noexcept {
    *timeout = -1;
    return pending().queued.load();
}

gboolean idleCheck(GSource*) noexcept {
    return pending().queued.load();
}

// The early path, ahead of everything at the usual priorities: ready once the head is overdue and
// the loop has had an iteration for the other sources since the last turn.
bool overdueReady(gint* timeout) {
    auto& p = pending();
    const gint64 at = p.overdueAt.load();
    if (at == notDue) {
        *timeout = -1;
        return false;
    }
    const gint64 now = g_get_monotonic_time();
    if (at > now) {
        *timeout = static_cast<gint>((at - now + 999) / 1000);
        return false;
    }
    *timeout = 0;
    // Prepared in the iteration after the turn, and again in this one.
    return p.iterationsSinceTurn >= 2;
}

gboolean overduePrepare(GSource*, gint* timeout) noexcept {
    auto& p = pending();
    if (p.iterationsSinceTurn < 2) ++p.iterationsSinceTurn;
    return overdueReady(timeout);
}

gboolean overdueCheck(GSource*) noexcept {
    gint timeout;
    return overdueReady(&timeout);
}

GSourceFuncs idleFuncs = {idlePrepare, idleCheck, dispatchTurn, nullptr, nullptr, nullptr};
GSourceFuncs overdueFuncs = {overduePrepare, overdueCheck, dispatchTurn, nullptr, nullptr, nullptr};

void attach(GSourceFuncs* funcs, gint priority, const char* name) {
    GSource* source = g_source_new(funcs, sizeof(GSource));
    g_source_set_priority(source, priority);
    // A closure that spins a nested loop must not stall the closures queued behind it.
    g_source_set_can_recurse(source, TRUE);
    g_source_set_name(source, name);
    g_source_attach(source, g_main_context_default());
    g_source_unref(source);  // the context keeps it for the life of the process
}

Pending::Pending() {
    attach(&idleFuncs, G_PRIORITY_DEFAULT_IDLE, "pelko.MainQueue");
    attach(&overdueFuncs, G_PRIORITY_HIGH, "pelko.MainQueue.overdue");
}

}  // namespace

MainQueue& MainQueue::shared() {
    static MainQueue queue;
    return queue;
}

bool MainQueue::isMainThread() {
    return std::this_thread::get_id() == mainThreadId;
}

void MainQueue::async(std::function<void()> work) {
    auto& p = pending();
    bool wasEmpty;
    {
        std::lock_guard lock(p.mutex);
        p.work.push_back(std::move(work));
        wasEmpty = !p.queued;
        if (wasEmpty) {
            p.queued = true;
            p.overdueAt = overdueFromNow();
        }
    }
    // A loop blocked in poll prepares its sources again and sees the work.
    if (wasEmpty) g_main_context_wakeup(g_main_context_default());
}

void MainQueue::sync(const std::function<void()>& work) {
    if (isMainThread()) {
        work();
        return;
    }
    runAndWait([this](std::function<void()> wrapped) { async(std::move(wrapped)); }, work);
}

bool MainQueue::drainUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    PELKO_REQUIRE_MAIN_THREAD();
    auto deadline = std::chrono::steady_clock::now() + timeout;
    GMainContext* context = g_main_context_default();
    // Wakes the blocking iteration now and then, so a predicate set from another thread is seen.
    GSource* ticker = g_timeout_source_new(5);
    g_source_set_callback(
        ticker, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr, nullptr);
    g_source_attach(ticker, context);
    bool satisfied = predicate();
    while (!satisfied && std::chrono::steady_clock::now() < deadline) {
        g_main_context_iteration(context, TRUE);
        satisfied = predicate();
    }
    g_source_destroy(ticker);
    g_source_unref(ticker);
    return satisfied;
}

void MainQueue::drain() {
    PELKO_REQUIRE_MAIN_THREAD();
    while (runNext()) {
    }
}

void requireMainThread(const char* function) {
    if (MainQueue::isMainThread()) return;
    std::fprintf(stderr, "pelko: %s is main-thread only and was called from another thread\n", function);
    std::abort();
}

}  // namespace pelko
