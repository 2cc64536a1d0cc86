#pragma once
// SequencedWorkerPool: many serial sequences of closures over a small, shared set of worker threads.
//
// Guarantees: the closures of one sequence (named by a key) run one at a time, in the order they were
// posted, each seeing what the one before it wrote; closures of different sequences never wait for one
// another. A sequence that has work and is not running takes an idle worker, else starts one; a worker
// runs its sequence until it is empty, then goes idle; idle workers beyond `keptIdle` end after
// `idleLimit` without work. So threads are at most the sequences running at once plus `keptIdle`, and a
// closure that blocks holds one worker and no other sequence. A sequence with no work queued or running
// has no entry. `post` never throws: when the work cannot be kept or a worker is needed and none can be
// started, whatever the failure (no thread, no memory), or the pool has been shut down, it keeps nothing
// and says why. `shutdown` drops work not yet started, lets running closures finish and joins every
// worker except the calling one (a closure that ends the pool from its own worker leaves that worker to
// end by itself); the pool's state lives as long as any worker. Thread names are the label's first 15
// characters.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

namespace pelko {

class SequencedWorkerPool {
  public:
    // Starts a thread running `body`; throws when it cannot (the default is std::thread).
    using ThreadStarter = std::function<std::thread(std::function<void()> body)>;

    struct Options {
        std::string label = "sequenced-pool";
        std::size_t keptIdle = 2;
        std::chrono::milliseconds idleLimit = std::chrono::seconds(5);
        ThreadStarter startThread;
    };

    explicit SequencedWorkerPool(Options options);
    ~SequencedWorkerPool();
    SequencedWorkerPool(const SequencedWorkerPool&) = delete;
    SequencedWorkerPool& operator=(const SequencedWorkerPool&) = delete;

    // Appends `work` to the sequence `key`. An empty code: queued. Otherwise nothing was kept.
    std::error_code post(const std::string& key, std::function<void()> work);
    void shutdown();

    // Sequences with work queued or running, and worker threads alive.
    std::size_t sequenceCount() const;
    std::size_t threadCount() const;

  private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace pelko
