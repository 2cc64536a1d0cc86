#pragma once
// TerminalMasterHandle: owns the master descriptor of a pseudo-terminal and its output reader.
//
// The reader is one thread per handle; it hands each chunk it reads to the data handler, in order,
// on that thread. End of output (a read of 0, or EIO once every slave descriptor is closed, as Linux
// reports it) stops the reader; it is not an error. `finishReading` lets the reader drain what is
// still buffered (until EIO, or until nothing arrived for a short while, since a background job may
// keep the slave open) and then calls its handler on the reader thread. `close` stops the reader
// without draining, waits for it (unless called from it) and closes the descriptor; the destructor
// does the same. The data handler must not wait on the thread that calls `close`.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace pelko {

class TerminalMasterHandle {
  public:
    using DataHandler = std::function<void(std::span<const std::uint8_t>)>;

    // Takes ownership of `fd` (non-blocking).
    explicit TerminalMasterHandle(int fd);
    ~TerminalMasterHandle();
    TerminalMasterHandle(const TerminalMasterHandle&) = delete;
    TerminalMasterHandle& operator=(const TerminalMasterHandle&) = delete;

    // -1 once closed.
    int fd() const;
    // Starts the reader; called at most once.
    void startReading(DataHandler onData);
    // `onFinished` runs once the reader has stopped: on the reader thread, or at once on the caller's
    // thread when it already has (or was never started).
    void finishReading(std::function<void()> onFinished);
    void close();

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace pelko
