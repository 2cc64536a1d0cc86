#include "terminal/TerminalMasterHandle.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace pelko {

namespace {
// After the child has gone: how long output may pause before draining gives up, and the whole bound.
constexpr auto drainQuietPeriod = std::chrono::milliseconds(100);
constexpr auto drainLimit = std::chrono::milliseconds(1000);
constexpr std::size_t readChunkSize = std::size_t{64} * 1024;

enum class Mode { reading, finishing, stopping };
}  // namespace

struct TerminalMasterHandle::State {
    int fd = -1;
    int wakeFd = -1;
    std::atomic<Mode> mode{Mode::reading};
    std::mutex mutex;
    bool started = false;
    bool stopped = false;
    std::function<void()> onFinished;
    std::thread reader;

    void wake() const {
        std::uint64_t one = 1;
        (void)!::write(wakeFd, &one, sizeof one);
    }

    void run(const DataHandler& onData) {
        std::vector<std::uint8_t> buffer(readChunkSize);
        std::chrono::steady_clock::time_point drainDeadline{};
        bool draining = false;
        for (;;) {
            Mode current = mode.load();
            if (current == Mode::stopping) break;
            int timeout = -1;
            if (current == Mode::finishing) {
                auto now = std::chrono::steady_clock::now();
                if (!draining) {
                    draining = true;
                    drainDeadline = now + drainLimit;
                }
                if (now >= drainDeadline) break;
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(drainDeadline - now);
                timeout =
                    static_cast<int>(std::min(left, std::chrono::milliseconds(drainQuietPeriod)).count());
            }
            pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
            int ready = poll(fds, 2, timeout);
            if (ready < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (ready == 0) break;  // quiet while draining
            if (fds[1].revents != 0) {
                std::uint64_t value = 0;
                (void)!::read(wakeFd, &value, sizeof value);
            }
            if (fds[0].revents == 0) continue;
            ssize_t count = ::read(fd, buffer.data(), buffer.size());
            if (count > 0) {
                onData(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(count)));
                continue;
            }
            if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            break;  // 0, EIO after the last slave descriptor closed, or a real error: output is over
        }
        std::function<void()> finished;
        {
            std::lock_guard lock(mutex);
            stopped = true;
            finished = std::move(onFinished);
            onFinished = nullptr;
        }
        if (finished) finished();
    }

    void stopAndJoin() {
        mode = Mode::stopping;
        if (wakeFd >= 0) wake();
        if (reader.joinable()) {
            if (reader.get_id() == std::this_thread::get_id()) {
                reader.detach();
            } else {
                reader.join();
            }
        }
    }
};

TerminalMasterHandle::TerminalMasterHandle(int fd) : state_(std::make_shared<State>()) {
    state_->fd = fd;
    state_->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TerminalMasterHandle::~TerminalMasterHandle() {
    close();
}

int TerminalMasterHandle::fd() const {
    return state_->fd;
}

void TerminalMasterHandle::startReading(DataHandler onData) {
    std::lock_guard lock(state_->mutex);
    if (state_->started || state_->fd < 0) return;
    state_->started = true;
    auto state = state_;
    state_->reader = std::thread([state, onData = std::move(onData)] { state->run(onData); });
}

void TerminalMasterHandle::finishReading(std::function<void()> onFinished) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->started && !state_->stopped) {
            state_->onFinished = std::move(onFinished);
            Mode expected = Mode::reading;
            state_->mode.compare_exchange_strong(expected, Mode::finishing);
            state_->wake();
            return;
        }
    }
    if (onFinished) onFinished();
}

void TerminalMasterHandle::close() {
    if (state_->fd < 0) return;
    {
        std::lock_guard lock(state_->mutex);
        state_->onFinished = nullptr;
    }
    state_->stopAndJoin();
    ::close(state_->fd);
    state_->fd = -1;
    if (state_->wakeFd >= 0) ::close(state_->wakeFd);
    state_->wakeFd = -1;
}

}  // namespace pelko
