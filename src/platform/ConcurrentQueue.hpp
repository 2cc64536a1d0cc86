#pragma once
// ConcurrentQueue: a bounded pool of `width` worker threads taking closures in FIFO order.
//
// Guarantees: closures start in enqueue order, at most `width` at a time, on the pool's threads; no
// order between closures that run at once. The destructor runs the work already enqueued, then joins
// (detaching a thread that drops the last reference itself).
#include <functional>
#include <memory>
#include <string>

namespace pelko {

class ConcurrentQueue {
  public:
    ConcurrentQueue(std::string label, unsigned width);
    ~ConcurrentQueue();
    ConcurrentQueue(const ConcurrentQueue&) = delete;
    ConcurrentQueue& operator=(const ConcurrentQueue&) = delete;

    const std::string& label() const;
    void async(std::function<void()> work);
    // Waits until everything enqueued before this call has finished.
    void barrier();

  private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace pelko
