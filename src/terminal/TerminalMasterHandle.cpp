#include "terminal/TerminalMasterHandle.hpp"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <termios.h>
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
    std::vector<std::uint8_t> input;
    std::size_t inputStart = 0;  // bytes before it are written
    std::thread reader;

    // Callers hold `mutex`.
    void wakeLocked() const {
        if (wakeFd < 0) return;
        std::uint64_t one = 1;
        (void)!::write(wakeFd, &one, sizeof one);
    }

    bool hasInput() {
        std::lock_guard lock(mutex);
        return inputStart < input.size();
    }

    // Writes queued input until the terminal takes no more. Returns 0 or the error that ended it.
    int writeInput() {
        std::lock_guard lock(mutex);
        int error = 0;
        while (inputStart < input.size()) {
            ssize_t written = ::write(fd, input.data() + inputStart, input.size() - inputStart);
            if (written > 0) {
                inputStart += static_cast<std::size_t>(written);
                continue;
            }
            if (written < 0 && errno == EINTR) continue;
            if (written < 0 && errno == EAGAIN) return 0;
            error = written == 0 ? EIO : errno;
            break;
        }
        // All written, or the session fails: either way nothing stays queued.
        input.clear();
        inputStart = 0;
        return error;
    }

    void run(const Handlers& handlers) {
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
            // Draining reads whatever the flow says: the pseudo-terminal's buffer bounds what is left.
            bool reading = draining || !handlers.shouldRead || handlers.shouldRead();
            bool writing = hasInput();
            short events = static_cast<short>((reading ? POLLIN : 0) | (writing ? POLLOUT : 0));
            pollfd fds[2] = {{events != 0 ? fd : -1, events, 0}, {wakeFd, POLLIN, 0}};
            int ready = poll(fds, 2, timeout);
            if (ready < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (ready == 0) break;  // quiet while draining
            if (fds[1].revents != 0) {
                std::uint64_t value = 0;
                (void)!::read(wakeFd, &value, sizeof value);
                if (handlers.onWake) handlers.onWake();
            }
            if (writing && fds[0].revents != 0) {
                if (int error = writeInput(); error != 0 && handlers.onWriteFailed)
                    handlers.onWriteFailed(error);
            }
            if (!reading || (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            ssize_t count = ::read(fd, buffer.data(), buffer.size());
            if (count > 0) {
                handlers.onData(
                    std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(count)));
                continue;
            }
            if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            break;  // 0, EIO after the last slave descriptor closed, or a real error: output is over
        }
        if (mode.load() != Mode::stopping && handlers.onStop) handlers.onStop();
        std::function<void()> finished;
        {
            std::lock_guard lock(mutex);
            stopped = true;
            input.clear();
            inputStart = 0;
            finished = std::move(onFinished);
            onFinished = nullptr;
        }
        if (finished) finished();
    }

    void stopAndJoin() {
        mode = Mode::stopping;
        {
            std::lock_guard lock(mutex);
            wakeLocked();
        }
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

bool TerminalMasterHandle::atSilentPrompt() const {
    termios settings{};
    if (state_->fd < 0 || tcgetattr(state_->fd, &settings) != 0) return true;
    return (settings.c_lflag & ICANON) != 0 && (settings.c_lflag & ECHO) == 0;
}

void TerminalMasterHandle::startReading(Handlers handlers) {
    std::lock_guard lock(state_->mutex);
    if (state_->started || state_->fd < 0) return;
    state_->started = true;
    auto state = state_;
    state_->reader = std::thread([state, handlers = std::move(handlers)] {
        pthread_setname_np(pthread_self(), "pelko.terminal");
        state->run(handlers);
    });
}

void TerminalMasterHandle::startReading(DataHandler onData) {
    Handlers handlers;
    handlers.onData = std::move(onData);
    startReading(std::move(handlers));
}

void TerminalMasterHandle::finishReading(std::function<void()> onFinished) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->started && !state_->stopped) {
            state_->onFinished = std::move(onFinished);
            Mode expected = Mode::reading;
            state_->mode.compare_exchange_strong(expected, Mode::finishing);
            state_->wakeLocked();
            return;
        }
    }
    if (onFinished) onFinished();
}

void TerminalMasterHandle::wake() {
    std::lock_guard lock(state_->mutex);
    state_->wakeLocked();
}

bool TerminalMasterHandle::queueInput(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(state_->mutex);
    if (!state_->started || state_->stopped || state_->fd < 0) return true;
    auto& input = state_->input;
    if (input.size() - state_->inputStart + bytes.size() > inputQueueLimit) return false;
    if (state_->inputStart > 0) {
        input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(state_->inputStart));
        state_->inputStart = 0;
    }
    input.insert(input.end(), bytes.begin(), bytes.end());
    state_->wakeLocked();
    return true;
}

void TerminalMasterHandle::close() {
    if (state_->fd < 0) return;
    {
        std::lock_guard lock(state_->mutex);
        state_->onFinished = nullptr;
    }
    state_->stopAndJoin();
    std::lock_guard lock(state_->mutex);
    ::close(state_->fd);
    state_->fd = -1;
    if (state_->wakeFd >= 0) ::close(state_->wakeFd);
    state_->wakeFd = -1;
}

}  // namespace pelko
