#pragma once
// TerminalMasterHandle: owns the master descriptor of a pseudo-terminal and its I/O thread, which
// reads the shell's output and writes the input queued for it.
//
// The I/O thread is one thread per handle; it hands each chunk it reads to the data handler, in order,
// on that thread. End of output (a read of 0, or EIO once every slave descriptor is closed, as Linux
// reports it) stops it; it is not an error. While `shouldRead` answers false the thread stops reading
// the master (the kernel then holds the shell back) and asks again after every `wake`. `finishReading`
// lets it drain what is still buffered, whatever `shouldRead` says (until EIO, or until nothing
// arrived for a short while, since a background job may keep the slave open), then calls `onStop` and
// its own handler on the I/O thread. `close` stops the thread without draining, waits for it (unless
// called from it) and closes the descriptor; the destructor does the same. No handler may wait on the
// thread that calls `close`.
//
// Input never blocks the caller: `queueInput` appends to a queue of at most `inputQueueLimit` bytes,
// which the I/O thread writes as the terminal takes it (non-blocking writes, waiting for POLLOUT). A
// write that fails empties the queue and reports the error number to `onWriteFailed`; input queued
// after the I/O thread has stopped is dropped, since no shell is left to read it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace pelko {

class TerminalMasterHandle {
  public:
    using DataHandler = std::function<void(std::span<const std::uint8_t>)>;

    struct Handlers {
        DataHandler onData;
        // Empty: always read.
        std::function<bool()> shouldRead;
        // After every `wake`.
        std::function<void()> onWake;
        // Once, when output has ended or drained (not after `close`), before `finishReading`'s handler.
        std::function<void()> onStop;
        std::function<void(int error)> onWriteFailed;
    };

    static constexpr std::size_t inputQueueLimit = std::size_t{512} * 1024;

    // Takes ownership of `fd` (non-blocking).
    explicit TerminalMasterHandle(int fd);
    ~TerminalMasterHandle();
    TerminalMasterHandle(const TerminalMasterHandle&) = delete;
    TerminalMasterHandle& operator=(const TerminalMasterHandle&) = delete;

    // -1 once closed.
    int fd() const;
    // Whether the terminal takes input a line at a time without echoing it, as a password prompt
    // does (a line editor turns echo off too, but reads key by key and echoes for itself). Also true
    // when the settings cannot be read. The master reports the slave's settings.
    bool atSilentPrompt() const;
    // Starts the I/O thread; called at most once.
    void startReading(Handlers handlers);
    void startReading(DataHandler onData);
    // `onFinished` runs once the I/O thread has stopped: on that thread, or at once on the caller's
    // thread when it already has (or was never started).
    void finishReading(std::function<void()> onFinished);
    // Any thread: runs `onWake` on the I/O thread and asks `shouldRead` again.
    void wake();
    // Any thread. False, queueing nothing, when the bytes would pass `inputQueueLimit`.
    bool queueInput(std::span<const std::uint8_t> bytes);
    void close();

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace pelko
