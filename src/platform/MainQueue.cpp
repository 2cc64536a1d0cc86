#include "platform/MainQueue.hpp"

#include <glib.h>

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

struct Pending {
    std::mutex mutex;
    std::deque<std::function<void()>> work;
    bool scheduled = false;  // an idle source is attached and will drain `work`
};

// Never destroyed: threads still running at exit may post to it.
Pending& pending() {
    static Pending* instance = new Pending;
    return *instance;
}

// Runs the next queued closure; false when the queue is empty.
bool runNext() {
    std::function<void()> work;
    {
        std::lock_guard lock(pending().mutex);
        if (pending().work.empty()) return false;
        work = std::move(pending().work.front());
        pending().work.pop_front();
    }
    work();
    return true;
}

gboolean dispatch(gpointer) noexcept {
    std::size_t batch;
    {
        std::lock_guard lock(pending().mutex);
        batch = pending().work.size();
    }
    // At most what was queued on entry and at most one time slice, so input and drawing get their
    // turn between batches however fast producers add work.
    const auto deadline = std::chrono::steady_clock::now() + MainQueue::timeSlice;
    for (std::size_t i = 0; i < batch && runNext(); ++i) {
        if (std::chrono::steady_clock::now() >= deadline) break;
    }
    std::lock_guard lock(pending().mutex);
    if (!pending().work.empty()) return G_SOURCE_CONTINUE;
    pending().scheduled = false;
    return G_SOURCE_REMOVE;
}

void schedule() {
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT_IDLE);
    // A closure that spins a nested loop must not stall the closures queued behind it.
    g_source_set_can_recurse(source, TRUE);
    g_source_set_callback(source, dispatch, nullptr, nullptr);
    g_source_set_name(source, "pelko.MainQueue");
    g_source_attach(source, g_main_context_default());
    g_source_unref(source);
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
    bool needsSource;
    {
        std::lock_guard lock(pending().mutex);
        pending().work.push_back(std::move(work));
        needsSource = !pending().scheduled;
        pending().scheduled = true;
    }
    if (needsSource) schedule();
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
