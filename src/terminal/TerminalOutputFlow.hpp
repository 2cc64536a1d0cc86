#pragma once
// TerminalOutputFlow: the output of one session that the page has not yet taken, between the
// session's reader and the page.
//
// The reader appends normalised bytes and takes events: while fewer than `maxEventsInFlight` events
// await the page's acknowledgement, `nextEvent` hands out the oldest bytes, at most `maxEventBytes` at
// once, so output that piles up while the page is behind leaves as fewer, larger events, with bytes
// and order unchanged. `shouldRead` turns false once the undelivered bytes (queued and in flight)
// reach the high watermark and true again only once acknowledgements bring them down to the low
// watermark: the reader then stops reading the pseudo-terminal and the kernel throttles the shell.
//
// Thread-safe: the reader appends and takes events on its thread; acknowledgements come from any
// thread.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace pelko {

class TerminalOutputFlow {
  public:
    // Eight events of 256 KiB keep the page busy across the round trip of an acknowledgement without
    // queueing more script than it runs between two frames; 4 MiB undelivered bounds a session's memory.
    struct Limits {
        std::size_t maxEventBytes = std::size_t{256} * 1024;
        std::size_t maxEventsInFlight = 8;
        std::size_t highWatermark = std::size_t{4} * 1024 * 1024;
        std::size_t lowWatermark = std::size_t{1} * 1024 * 1024;
    };

    TerminalOutputFlow() : TerminalOutputFlow(Limits{}) {}
    explicit TerminalOutputFlow(Limits limits) : limits_(limits) {}

    void append(std::span<const std::uint8_t> bytes);
    // The next event while the in-flight limit allows one; `ignoringInFlightLimit` empties the queue
    // at the end of a session, when nothing may wait any longer.
    std::optional<std::vector<std::uint8_t>> nextEvent(bool ignoringInFlightLimit = false);
    // The page took (or dropped) an event of `bytes` bytes handed out by `nextEvent`.
    void acknowledge(std::size_t bytes);
    bool shouldRead();
    std::size_t undeliveredBytes() const;

  private:
    const Limits limits_;
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> queued_;
    std::size_t queuedStart_ = 0;  // bytes before it were handed out already
    std::size_t eventsInFlight_ = 0;
    std::size_t bytesInFlight_ = 0;
    bool paused_ = false;
};

}  // namespace pelko
