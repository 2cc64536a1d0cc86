#pragma once
// SerialQueue: one worker thread running closures in FIFO order.
//
// Guarantees: closures run one at a time, in enqueue order, on the queue's own thread; everything a
// closure wrote is visible to the next one. `sync` from the queue's own thread runs inline (no
// deadlock). `asyncAfter` runs the work no earlier than the delay, after work enqueued before its due
// time, unless its WorkItem was cancelled first. The destructor runs the work already enqueued (not
// delayed work that is not yet due), then joins the thread; when the last reference is dropped on the
// queue's own thread, the thread is detached instead of joined. The label is kept whole; the thread
// name is its first 15 characters.
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace pelko {

// A cancellable handle to delayed work. Cancelling after the work has started has no effect on it.
class WorkItem {
  public:
    void cancel();
    bool isCancelled() const;

  private:
    friend class SerialQueue;
    struct State;
    std::shared_ptr<State> state_;
};

class SerialQueue {
  public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const;
    bool isCurrent() const;

    void async(std::function<void()> work);
    void sync(const std::function<void()>& work);
    WorkItem asyncAfter(std::chrono::milliseconds delay, std::function<void()> work);
    // Waits until everything enqueued before this call has run (delayed work not yet due excluded).
    void barrier();

  private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace pelko
