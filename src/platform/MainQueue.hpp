#pragma once
// MainQueue: the FIFO of closures that runs on the main thread, drained from two GSources on the GLib
// default main context.
//
// Guarantees: closures run in the order they were enqueued, one at a time, on the main thread (the
// thread that ran static initialisation, i.e. the one that runs main()). `async` may be called from
// any thread. `sync` from the main thread runs the closure inline; from another thread it enqueues it
// and waits. Nothing runs unless the default main context is iterated: by the GTK main loop in the
// application, by `drainUntil` in tests. The queue never drops work; closures still queued at exit
// never run, and the queue's state is never destroyed, so a thread that posts while the process ends
// touches nothing freed.
//
// Sharing the main thread: closures run in turns of at most `timeSlice` (and at most what was queued
// when the turn began). On a quiet loop a turn runs at once, below GTK's input, layout and drawing.
// Drawing never starves the queue: once the closure at the head has waited `overdueAfter`, the next
// turn runs ahead of every source of the usual priorities, so the head runs within `overdueAfter`
// plus the longest single dispatch of another source in between (on a busy window, one frame: about
// 25 + 40 ms with cairo drawing a large page). Input and drawing keep their share too: after such a
// turn, the next loop iteration always goes to the other sources, and the next early turn comes
// `overdueAfter` after this one at the soonest.
#include <chrono>
#include <functional>

namespace pelko {

class MainQueue {
  public:
    static MainQueue& shared();
    static bool isMainThread();

    void async(std::function<void()> work);
    // Runs `work` on the main thread and waits for it; inline when already on the main thread.
    void sync(const std::function<void()>& work);

    // Tests and start-up only, main thread only: iterates the default main context until
    // `predicate` holds or `timeout` passes. Returns the predicate's last value.
    bool drainUntil(const std::function<bool()>& predicate,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Runs everything queued so far (and whatever that queues), without blocking.
    void drain();

    // Longest run of closures in one turn of the main loop (a single closure may take longer).
    static constexpr std::chrono::milliseconds timeSlice{8};
    // How long the head of the queue waits for a quiet loop before its turn runs ahead of drawing:
    // about a frame.
    static constexpr std::chrono::milliseconds overdueAfter{25};

    MainQueue(const MainQueue&) = delete;
    MainQueue& operator=(const MainQueue&) = delete;

  private:
    MainQueue() = default;
};

// Debug builds stop at once when a main-thread-only entry point is called from another thread (a
// data race that would otherwise show up far away and rarely); release builds check nothing.
void requireMainThread(const char* function);

}  // namespace pelko

#ifdef NDEBUG
#define PELKO_REQUIRE_MAIN_THREAD() ((void)0)
#else
#define PELKO_REQUIRE_MAIN_THREAD() ::pelko::requireMainThread(__func__)
#endif
