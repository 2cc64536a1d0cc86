#include "terminal/TerminalOutputFlow.hpp"

#include <algorithm>

namespace pelko {

void TerminalOutputFlow::append(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    queued_.insert(queued_.end(), bytes.begin(), bytes.end());
}

std::optional<std::vector<std::uint8_t>> TerminalOutputFlow::nextEvent(bool ignoringInFlightLimit) {
    std::lock_guard lock(mutex_);
    std::size_t available = queued_.size() - queuedStart_;
    if (available == 0) return std::nullopt;
    if (!ignoringInFlightLimit && eventsInFlight_ >= limits_.maxEventsInFlight) return std::nullopt;
    std::size_t size = std::min(available, limits_.maxEventBytes);
    std::vector<std::uint8_t> event;
    if (queuedStart_ == 0 && size == queued_.size()) {
        // The usual case while the page keeps up: the whole queue leaves without a copy.
        event.swap(queued_);
    } else {
        auto first = queued_.begin() + static_cast<std::ptrdiff_t>(queuedStart_);
        event.assign(first, first + static_cast<std::ptrdiff_t>(size));
        queuedStart_ += size;
        // Compacting only once the taken part outweighs the rest keeps the copying linear.
        if (queuedStart_ == queued_.size()) {
            queued_.clear();
            queuedStart_ = 0;
        } else if (queuedStart_ >= queued_.size() / 2) {
            queued_.erase(queued_.begin(), queued_.begin() + static_cast<std::ptrdiff_t>(queuedStart_));
            queuedStart_ = 0;
        }
    }
    ++eventsInFlight_;
    bytesInFlight_ += size;
    return event;
}

void TerminalOutputFlow::acknowledge(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    if (eventsInFlight_ > 0) --eventsInFlight_;
    bytesInFlight_ -= std::min(bytes, bytesInFlight_);
}

bool TerminalOutputFlow::shouldRead() {
    std::lock_guard lock(mutex_);
    std::size_t undelivered = queued_.size() - queuedStart_ + bytesInFlight_;
    if (paused_ && undelivered <= limits_.lowWatermark) paused_ = false;
    if (!paused_ && undelivered >= limits_.highWatermark) paused_ = true;
    return !paused_;
}

std::size_t TerminalOutputFlow::undeliveredBytes() const {
    std::lock_guard lock(mutex_);
    return queued_.size() - queuedStart_ + bytesInFlight_;
}

}  // namespace pelko
