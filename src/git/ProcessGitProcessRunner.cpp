#include "git/ProcessGitProcessRunner.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "platform/CutText.hpp"
#include "platform/UniqueFd.hpp"

namespace pelko {

namespace {

constexpr const char* envPath = "/usr/bin/env";

struct Pipe {
    UniqueFd read;
    UniqueFd write;

    int open() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return errno;
        read.reset(fds[0]);
        write.reset(fds[1]);
        return 0;
    }
};

struct SpawnSetup {
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};
    bool hasActions = false;
    bool hasAttributes = false;

    ~SpawnSetup() {
        if (hasActions) posix_spawn_file_actions_destroy(&actions);
        if (hasAttributes) posix_spawnattr_destroy(&attributes);
    }
};

GitProcessExecutionResult launchFailure(int error) {
    GitProcessExecutionResult result;
    result.status = -1;
    result.stderr = std::strerror(error);
    return result;
}

// Returns 0 or the errno of the first step that failed.
// The child leads a session of its own, and so the group of its own that a limit or a stop ends with
// whatever it started. Being outside every terminal's job control, a hook that reads /dev/tty is told it
// has no terminal instead of being stopped for good as a background group of the one we were started
// from.
int prepare(SpawnSetup& setup, const std::filesystem::path& directory, int inFd, int outFd, int errFd) {
    int error = posix_spawn_file_actions_init(&setup.actions);
    if (error != 0) return error;
    setup.hasActions = true;
    if ((error = inFd >= 0
                     ? posix_spawn_file_actions_adddup2(&setup.actions, inFd, 0)
                     : posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0)) != 0 ||
        (error = posix_spawn_file_actions_adddup2(&setup.actions, outFd, 1)) != 0 ||
        (error = posix_spawn_file_actions_adddup2(&setup.actions, errFd, 2)) != 0 ||
        (error = posix_spawn_file_actions_addchdir_np(&setup.actions, directory.c_str())) != 0 ||
        (error = posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3)) != 0) {
        return error;
    }
    if ((error = posix_spawnattr_init(&setup.attributes)) != 0) return error;
    setup.hasAttributes = true;
    sigset_t empty;
    sigemptyset(&empty);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGTERM, SIGHUP}) sigaddset(&defaults, sig);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID;
    if ((error = posix_spawnattr_setsigmask(&setup.attributes, &empty)) != 0 ||
        (error = posix_spawnattr_setsigdefault(&setup.attributes, &defaults)) != 0 ||
        (error = posix_spawnattr_setflags(&setup.attributes, flags)) != 0) {
        return error;
    }
    return 0;
}

using Clock = std::chrono::steady_clock;

enum class LimitMet { none, silence, overall, stdoutSize, stopped };

// Standard error as it is kept: its first and last `keptStderrEnd` bytes and the count of all of it,
// in the same memory however much the child writes.
class StderrEnds {
  public:
    void append(const char* data, std::size_t size) {
        total_ += size;
        std::size_t toHead = std::min(size, held - head_.size());
        head_.append(data, toHead);
        data += toHead;
        size -= toHead;
        if (size >= held) {
            tail_.assign(data + size - held, held);
        } else {
            tail_.append(data, size);
            // Trimmed in batches, so a byte is moved at most once.
            if (tail_.size() > 2 * held) tail_.erase(0, tail_.size() - held);
        }
    }

    // All of it when it fits; else the head, a line with the note and the tail, each cut between
    // characters.
    std::string text() const {
        if (total_ <= 2 * held) return head_ + tail_;
        std::string text(CutText::head(head_, shown));
        if (!text.empty() && text.back() != '\n') text += '\n';
        text += CutText::note(total_) + "\n";
        text += CutText::tail(tail_, shown);
        return text;
    }

  private:
    static constexpr std::size_t shown = ProcessGitProcessRunner::keptStderrEnd;
    // One byte more than shown at each end tells whether a cut there splits a character.
    static constexpr std::size_t held = shown + 1;

    std::string head_;
    std::string tail_;
    std::uint64_t total_ = 0;
};

// Writes to a pipe whose reader has gone fail with EPIPE instead of raising SIGPIPE in this process:
// the signal is blocked on this thread while the guard lives, and one it raised is taken back.
class PipeSignalGuard {
  public:
    PipeSignalGuard() {
        sigemptyset(&pipeSignal_);
        sigaddset(&pipeSignal_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal_, &previous_);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~PipeSignalGuard() {
        if (!wasPending_) {
            timespec none{};
            while (sigtimedwait(&pipeSignal_, nullptr, &none) > 0) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    PipeSignalGuard(const PipeSignalGuard&) = delete;
    PipeSignalGuard& operator=(const PipeSignalGuard&) = delete;

  private:
    sigset_t pipeSignal_;
    sigset_t previous_;
    bool wasPending_ = false;
};

struct InputFeed {
    UniqueFd* pipe = nullptr;  // the non-blocking write end, closed once all is written; null: none
    const std::string* bytes = nullptr;
    std::size_t written = 0;

    int fd() const { return pipe ? pipe->get() : -1; }
};

// Reads both pipes until each has reached end of file, or until a limit is met (zero: none) or the
// runner is stopped, writing the input as the child takes it meanwhile. Standard output over its limit
// is cut back to it; standard error is read to its end whatever its size, so the child never blocks
// on it, and only its ends are kept.
LimitMet drain(int outFd, int errFd, int stopFd, InputFeed& input, std::string& out, StderrEnds& err,
               const GitProcessLimits& limits) {
    std::array<pollfd, 4> fds{
        {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {stopFd, POLLIN, 0}, {input.fd(), POLLOUT, 0}}};
    std::array<char, 65536> chunk;
    const auto start = Clock::now();
    auto lastOutput = start;
    int open = 2;
    while (open > 0) {
        int timeout = -1;
        if (limits.silence.count() > 0 || limits.overall.count() > 0) {
            auto now = Clock::now();
            auto remaining = std::chrono::milliseconds::max();
            if (limits.silence.count() > 0) {
                auto left =
                    limits.silence - std::chrono::duration_cast<std::chrono::milliseconds>(now - lastOutput);
                if (left.count() <= 0) return LimitMet::silence;
                remaining = std::min(remaining, left);
            }
            if (limits.overall.count() > 0) {
                auto left =
                    limits.overall - std::chrono::duration_cast<std::chrono::milliseconds>(now - start);
                if (left.count() <= 0) return LimitMet::overall;
                remaining = std::min(remaining, left);
            }
            timeout = static_cast<int>(std::min<std::int64_t>(remaining.count() + 1, 60'000));
        }
        fds[3].fd = input.fd();
        int ready = poll(fds.data(), fds.size(), timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return LimitMet::none;
        }
        if (ready == 0) continue;
        if (fds[2].revents != 0) return LimitMet::stopped;
        if (input.fd() >= 0 && fds[3].revents != 0) {
            const std::size_t left = input.bytes->size() - input.written;
            ssize_t count =
                ::write(input.fd(), input.bytes->data() + input.written, std::min(left, chunk.size()));
            if (count > 0) input.written += static_cast<std::size_t>(count);
            // All written, or the child closed its end (EPIPE): it has had what it will read.
            if (input.written == input.bytes->size() || (count < 0 && errno != EAGAIN && errno != EINTR))
                input.pipe->reset();
        }
        if (fds[0].revents == 0 && fds[1].revents == 0) continue;
        lastOutput = Clock::now();
        for (std::size_t i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t count = ::read(fds[i].fd, chunk.data(), chunk.size());
            if (count > 0 && i == 1) {
                err.append(chunk.data(), static_cast<std::size_t>(count));
            } else if (count > 0) {
                out.append(chunk.data(), static_cast<std::size_t>(count));
                if (limits.maxStdout > 0 && out.size() > limits.maxStdout) {
                    out.resize(limits.maxStdout);
                    return LimitMet::stdoutSize;
                }
            } else if (count == 0 || errno != EINTR) {
                fds[i].fd = -1;  // poll ignores negative descriptors
                --open;
            }
        }
    }
    return LimitMet::none;
}

std::string limitText(LimitMet met, const GitProcessLimits& limits) {
    auto seconds = [](std::chrono::milliseconds value) {
        return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(value).count());
    };
    if (met == LimitMet::silence) return "no answer from the remote for " + seconds(limits.silence) + " s";
    if (met == LimitMet::stdoutSize)
        return "standard output over " + std::to_string(limits.maxStdout) + " bytes";
    if (met == LimitMet::stopped) return "stopped: the application is ending";
    return "did not finish within " + seconds(limits.overall) + " s";
}

std::int32_t waitForExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

std::string ProcessGitProcessRunner::decodeLossy(std::string bytes) {
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    // Length of the valid sequence starting at i, or of the maximal invalid prefix as a negative number.
    auto sequence = [&](std::size_t i) -> int {
        unsigned char lead = at(i);
        if (lead < 0x80) return 1;
        int length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return -1;
        }
        for (int k = 1; k < length; ++k) {
            if (i + k >= bytes.size()) return -k;
            unsigned char next = at(i + k);
            if (next < low || next > high) return -k;
            low = 0x80;
            high = 0xBF;
        }
        return length;
    };

    std::size_t i = 0;
    while (i < bytes.size()) {
        int length = sequence(i);
        if (length < 0) break;
        i += static_cast<std::size_t>(length);
    }
    if (i == bytes.size()) return bytes;

    std::string decoded(bytes, 0, i);
    decoded.reserve(bytes.size() + 16);
    while (i < bytes.size()) {
        int length = sequence(i);
        if (length > 0) {
            decoded.append(bytes, i, static_cast<std::size_t>(length));
            i += static_cast<std::size_t>(length);
        } else {
            decoded.append("\xEF\xBF\xBD");
            i += static_cast<std::size_t>(-length);
        }
    }
    return decoded;
}

ProcessGitProcessRunner::ProcessGitProcessRunner() : stopSignal_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ProcessGitProcessRunner::~ProcessGitProcessRunner() {
    if (stopSignal_ >= 0) ::close(stopSignal_);
}

GitProcessExecutionResult ProcessGitProcessRunner::run(
    const std::vector<std::string>& arguments, const std::filesystem::path& directory,
    const std::map<std::string, std::string>& environment) {
    return start(arguments, directory, environment, nullptr, GitProcessLimits{});
}

GitProcessExecutionResult ProcessGitProcessRunner::runWithin(
    const std::vector<std::string>& arguments, const std::filesystem::path& directory,
    const std::map<std::string, std::string>& environment, const GitProcessLimits& limits) {
    return start(arguments, directory, environment, nullptr, limits);
}

GitProcessExecutionResult ProcessGitProcessRunner::runWithInput(
    const std::vector<std::string>& arguments, const std::filesystem::path& directory,
    const std::map<std::string, std::string>& environment, const std::string& input,
    const GitProcessLimits& limits) {
    return start(arguments, directory, environment, &input, limits);
}

void ProcessGitProcessRunner::stopAll() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    // Readers are woken before their children die, so the end of output a kill brings is never taken
    // for a child that finished: every run cut off says it was stopped.
    if (stopSignal_ >= 0) {
        std::uint64_t one = 1;
        (void)::write(stopSignal_, &one, sizeof one);
    }
    // Leaders are still unreaped, so each id is still this child's group.
    for (pid_t pid : running_) killpg(pid, SIGKILL);
}

GitProcessExecutionResult ProcessGitProcessRunner::start(
    const std::vector<std::string>& arguments, const std::filesystem::path& directory,
    const std::map<std::string, std::string>& environment, const std::string* input,
    const GitProcessLimits& limits) {
    std::vector<std::string> envStrings;
    envStrings.reserve(environment.size() + 2);
    for (const auto& [name, value] : environment) {
        if (name == "LC_ALL" || name == "GIT_TERMINAL_PROMPT") continue;
        envStrings.push_back(name + "=" + value);
    }
    envStrings.emplace_back("LC_ALL=C");
    envStrings.emplace_back("GIT_TERMINAL_PROMPT=0");
    std::vector<char*> envp;
    envp.reserve(envStrings.size() + 1);
    for (auto& entry : envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);

    std::vector<std::string> argStrings;
    argStrings.reserve(arguments.size() + 1);
    argStrings.emplace_back(envPath);
    argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(argStrings.size() + 1);
    for (auto& entry : argStrings) argv.push_back(entry.data());
    argv.push_back(nullptr);

    Pipe in;
    Pipe out;
    Pipe err;
    if (input) {
        if (int error = in.open()) return launchFailure(error);
        if (fcntl(in.write.get(), F_SETFL, O_NONBLOCK) != 0) return launchFailure(errno);
    }
    if (int error = out.open()) return launchFailure(error);
    if (int error = err.open()) return launchFailure(error);

    SpawnSetup setup;
    if (int error = prepare(setup, directory, input ? in.read.get() : -1, out.write.get(), err.write.get())) {
        return launchFailure(error);
    }

    pid_t pid = 0;
    {
        // Registered in the same step as the stop check, so a stop never misses a child.
        std::lock_guard lock(mutex_);
        if (stopped_) return launchFailure(ECANCELED);
        if (int error =
                posix_spawn(&pid, envPath, &setup.actions, &setup.attributes, argv.data(), envp.data())) {
            return launchFailure(error);
        }
        running_.insert(pid);
    }
    // Only the child may hold the write ends now, or end of file would never come.
    in.read.reset();
    out.write.reset();
    err.write.reset();

    GitProcessExecutionResult result;
    std::string outBytes;
    StderrEnds errBytes;
    InputFeed feed;
    std::optional<PipeSignalGuard> pipeSignal;
    if (input && !input->empty()) {
        pipeSignal.emplace();
        feed = {&in.write, input, 0};
    } else {
        in.write.reset();
    }
    LimitMet met = drain(out.read.get(), err.read.get(), stopSignal_, feed, outBytes, errBytes, limits);
    // Never left open while the child is awaited (a no-op when the feed closed it already).
    in.write.reset();
    if (met != LimitMet::none) {
        // The whole group: git's transport helpers and ssh hold the pipes too.
        killpg(pid, SIGKILL);
        out.read.reset();
        err.read.reset();
    }
    {
        std::lock_guard lock(mutex_);
        running_.erase(pid);
    }
    result.status = waitForExit(pid);
    result.stdoutOverLimit = met == LimitMet::stdoutSize;
    result.stdout = decodeLossy(std::move(outBytes));
    result.stderr = decodeLossy(errBytes.text());
    if (met != LimitMet::none) {
        if (!result.stderr.empty() && result.stderr.back() != '\n') result.stderr += '\n';
        result.stderr += "fatal: " + limitText(met, limits);
    }
    return result;
}

}  // namespace pelko
