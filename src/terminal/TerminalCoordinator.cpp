#include "terminal/TerminalCoordinator.hpp"

#include <fmt/format.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "config/CLISessionConfig.hpp"
#include "config/ProjectMetadata.hpp"
#include "platform/MainQueue.hpp"
#include "platform/XdgFolders.hpp"
#include "terminal/PTYDriver.hpp"
#include "terminal/TerminalDebugDumpStore.hpp"
#include "terminal/TerminalDebugDumpWriter.hpp"
#include "terminal/TerminalLogger.hpp"
#include "terminal/TerminalOutputFlow.hpp"
#include "terminal/TerminalOutputNormalizer.hpp"

namespace pelko {

namespace {

std::string posixDescription(int error) {
    return fmt::format("{} (errno: {})", std::strerror(error), error);
}

}  // namespace

struct TerminalCoordinator::SessionState {
    CLISessionConfig config;
    std::shared_ptr<TerminalProcess> process;
    std::shared_ptr<TerminalMasterHandle> masterHandle;
    // Used only by the output reader.
    TerminalOutputNormalizer normalizer;
    TerminalOutputFlow outputFlow;
    int cols = 0;
    int rows = 0;
    SessionStatus status = SessionStatus::booting();
    bool disposed = false;

    // Replaced on the main thread, used by the output reader.
    void setDumpWriter(std::shared_ptr<TerminalDebugDumpWriter> writer) {
        std::lock_guard lock(writerMutex);
        dumpWriter = std::move(writer);
    }
    std::shared_ptr<TerminalDebugDumpWriter> currentDumpWriter() {
        std::lock_guard lock(writerMutex);
        return dumpWriter;
    }

  private:
    std::mutex writerMutex;
    std::shared_ptr<TerminalDebugDumpWriter> dumpWriter;
};

TerminalCoordinator::TerminalCoordinator(std::shared_ptr<PTYDriver> driver,
                                         std::shared_ptr<TerminalLogger> logger,
                                         std::shared_ptr<TerminalDebugDumpStore> debugDumpStore,
                                         int initialCols, int initialRows, std::size_t maxSessions)
    : driver_(std::move(driver)),
      logger_(std::move(logger)),
      initialCols_(initialCols),
      initialRows_(initialRows),
      maxSessions_(maxSessions),
      debugDumpStore_(std::move(debugDumpStore)) {}

std::shared_ptr<TerminalCoordinator> TerminalCoordinator::makeDefault() {
    return std::make_shared<TerminalCoordinator>(std::make_shared<PTYDriver>(),
                                                 std::make_shared<TerminalLogger>(),
                                                 TerminalDebugDumpStore::makeDefault());
}

TerminalCoordinator::~TerminalCoordinator() {
    for (auto& [id, state] : sessions_) dispose(*state);
}

void TerminalCoordinator::setDelegate(std::weak_ptr<TerminalCoordinatorDelegate> delegate) {
    delegate_ = std::move(delegate);
}

void TerminalCoordinator::setEnvironmentOverrides(std::map<std::string, std::string> overrides) {
    environmentOverrides_ = std::move(overrides);
}

std::string TerminalCoordinator::resolvedWorkingDirectory(const CLISessionConfig& config) const {
    const auto& home = XdgFolders::process().home;
    // A session's folder is usually its project's root: the same rule makes it the same folder.
    std::string expanded = ProjectMetadata::resolveRootFolder(config.workingDirectory).string();
    std::error_code error;
    if (!expanded.empty() && std::filesystem::is_directory(expanded, error)) return expanded;
    return home.string();
}

void TerminalCoordinator::report(const SessionStatus& status, const Uuid& sessionID,
                                 std::optional<std::int32_t> exitCode) {
    if (auto delegate = delegate_.lock())
        delegate->terminalCoordinatorDidUpdateStatus(status, sessionID, exitCode);
}

void TerminalCoordinator::synchronize(const std::vector<CLISessionConfig>& sessions) {
    PELKO_REQUIRE_MAIN_THREAD();
    std::vector<Uuid> stale;
    for (const auto& [id, state] : sessions_) {
        bool configured = std::any_of(sessions.begin(), sessions.end(),
                                      [&id = id](const CLISessionConfig& config) { return config.id == id; });
        if (!configured) stale.push_back(id);
    }
    for (const auto& id : stale) terminateSession(id);
    for (const auto& config : sessions) {
        auto it = sessions_.find(config.id);
        if (it == sessions_.end()) {
            startSession(config);
        } else if (debugDumpEnabled_ && debugDumpStore_ && !it->second->currentDumpWriter()) {
            attachDumpWriter(*it->second);
        }
    }
}

void TerminalCoordinator::attachDumpWriter(SessionState& state) {
    state.setDumpWriter(TerminalDebugDumpWriter::create(debugDumpStore_, state.config.id));
}

std::string TerminalCoordinator::sessionLimitReached() const {
    return fmt::format("sessionLimitReached(limit: {})", maxSessions_);
}

void TerminalCoordinator::startSession(const CLISessionConfig& config) {
    PELKO_REQUIRE_MAIN_THREAD();
    if (sessions_.size() >= maxSessions_) {
        logger_->record({config.id, TerminalLogEvent::Event::error, std::nullopt, "spawn_failed",
                         std::map<std::string, std::string>{{"error", sessionLimitReached()}}});
        transitionToFailure(config.id, sessionLimitReached());
        return;
    }
    std::string workingDirectory = resolvedWorkingDirectory(config);
    PTYProcess spawned;
    try {
        spawned = driver_->spawn(config.shell, {"-l"}, workingDirectory, environmentOverrides_, initialCols_,
                                 initialRows_);
    } catch (const PTYDriverError& error) {
        logger_->record({config.id, TerminalLogEvent::Event::error, std::nullopt, "spawn_failed",
                         std::map<std::string, std::string>{{"error", error.description()}}});
        transitionToFailure(config.id, error.description());
        return;
    }

    auto state = std::make_shared<SessionState>();
    state->config = config;
    state->process = spawned.process;
    state->masterHandle = spawned.masterHandle;
    state->cols = initialCols_;
    state->rows = initialRows_;
    if (debugDumpEnabled_ && debugDumpStore_) attachDumpWriter(*state);
    sessions_[config.id] = state;

    logger_->record({config.id, TerminalLogEvent::Event::spawn, std::nullopt, "spawn",
                     std::map<std::string, std::string>{{"shell", config.shell},
                                                        {"cwd", workingDirectory},
                                                        {"cols", std::to_string(initialCols_)},
                                                        {"rows", std::to_string(initialRows_)}}});
    installTerminationHandler(state);
    installReadHandler(state);

    if (auto delegate = delegate_.lock()) {
        delegate->terminalCoordinatorDidCreateSession(
            TerminalSessionInfo{config.id, config.title, initialCols_, initialRows_, state->process->pid(),
                                config.shell, workingDirectory});
    }
    state->status = SessionStatus::booting();
    report(state->status, config.id, std::nullopt);

    onMainWhileCurrent(state, [this](SessionState& session) {
        session.status = SessionStatus::ready();
        report(session.status, session.config.id, std::nullopt);
    });
}

void TerminalCoordinator::onMainWhileCurrent(const std::shared_ptr<SessionState>& state,
                                             std::function<void(SessionState&)> work) {
    std::weak_ptr<TerminalCoordinator> weakSelf = weak_from_this();
    std::weak_ptr<SessionState> weakState = state;
    MainQueue::shared().async([weakSelf, weakState, work = std::move(work)] {
        auto self = weakSelf.lock();
        auto state = weakState.lock();
        if (!self || !state) return;
        auto it = self->sessions_.find(state->config.id);
        if (it == self->sessions_.end() || it->second != state) return;
        work(*state);
    });
}

void TerminalCoordinator::installReadHandler(const std::shared_ptr<SessionState>& state) {
    std::weak_ptr<TerminalCoordinator> weakSelf = weak_from_this();
    std::weak_ptr<SessionState> weakState = state;
    Uuid id = state->config.id;
    TerminalMasterHandle::Handlers handlers;
    handlers.onData = [weakSelf, weakState, id](std::span<const std::uint8_t> chunk) {
        auto self = weakSelf.lock();
        auto state = weakState.lock();
        if (!self || !state) return;
        auto writer = state->currentDumpWriter();
        TerminalOutputNormalizer::Bytes normalized;
        if (writer) {
            normalized = state->normalizer.normalize(
                chunk, [&writer](std::span<const std::uint8_t> raw, std::span<const std::uint8_t> result) {
                    writer->record(raw, result);
                });
        } else {
            normalized = state->normalizer.normalize(chunk);
        }
        self->forwardOutput(*state, std::move(normalized));
        self->sendOutput(state, false);
    };
    handlers.shouldRead = [weakState] {
        auto state = weakState.lock();
        return !state || state->outputFlow.shouldRead();
    };
    auto send = [weakSelf, weakState](bool all) {
        auto self = weakSelf.lock();
        auto state = weakState.lock();
        if (self && state) self->sendOutput(state, all);
    };
    handlers.onWake = [send] { send(false); };
    handlers.onStop = [send] { send(true); };
    handlers.onWriteFailed = [weakSelf, weakState, id](int error) {
        auto self = weakSelf.lock();
        auto state = weakState.lock();
        if (!self || !state) return;
        TerminalCoordinator* coordinator = self.get();
        coordinator->onMainWhileCurrent(state, [coordinator, id, error](SessionState&) {
            coordinator->transitionToFailure(id, "write_failed: " + posixDescription(error));
        });
    };
    state->masterHandle->startReading(std::move(handlers));
}

void TerminalCoordinator::sendOutput(const std::shared_ptr<SessionState>& state, bool all) {
    auto delegate = delegate_.lock();
    std::weak_ptr<SessionState> weakState = state;
    while (auto event = state->outputFlow.nextEvent(all)) {
        std::size_t size = event->size();
        auto onDelivered = [weakState, size] {
            if (auto state = weakState.lock()) {
                state->outputFlow.acknowledge(size);
                state->masterHandle->wake();
            }
        };
        if (!delegate) {
            onDelivered();
            continue;
        }
        delegate->terminalCoordinatorDidReceiveOutput(*event, state->config.id, std::move(onDelivered));
    }
}

void TerminalCoordinator::forwardOutput(SessionState& state, TerminalOutputNormalizer::Bytes normalized) {
    if (normalized.empty()) return;
    state.outputFlow.append(normalized);
    logger_->record({state.config.id, TerminalLogEvent::Event::output, std::move(normalized), std::nullopt,
                     std::nullopt});
}

void TerminalCoordinator::installTerminationHandler(const std::shared_ptr<SessionState>& state) {
    std::weak_ptr<TerminalCoordinator> weakSelf = weak_from_this();
    std::weak_ptr<SessionState> weakState = state;
    state->process->setTerminationHandler([weakSelf, weakState](TerminalProcess&) {
        auto self = weakSelf.lock();
        auto state = weakState.lock();
        if (!self || !state) return;
        TerminalCoordinator* coordinator = self.get();
        coordinator->onMainWhileCurrent(state, [coordinator, weakState](SessionState& session) {
            const Uuid id = session.config.id;
            std::int32_t code = session.process->terminationStatus();
            coordinator->logger_->record(
                {id, TerminalLogEvent::Event::exit, std::nullopt, std::nullopt,
                 std::map<std::string, std::string>{{"code", std::to_string(code)}}});
            // The last output may still sit in the pseudo-terminal: let the reader drain it first, so
            // every output report precedes the exit.
            std::weak_ptr<TerminalCoordinator> weakCoordinator = coordinator->weak_from_this();
            session.masterHandle->finishReading([weakCoordinator, weakState] {
                auto self = weakCoordinator.lock();
                auto state = weakState.lock();
                if (!self || !state) return;
                TerminalCoordinator* coordinator = self.get();
                // The reader has stopped, so nothing can complete a sequence the normaliser still
                // holds: it goes out as it is, before the exit.
                auto held = state->normalizer.flush();
                if (auto writer = state->currentDumpWriter(); writer && !held.empty())
                    writer->record({}, held);
                coordinator->forwardOutput(*state, std::move(held));
                coordinator->sendOutput(state, true);
                coordinator->onMainWhileCurrent(state, [coordinator](SessionState& session) {
                    const Uuid id = session.config.id;
                    coordinator->dispose(session);
                    coordinator->sessions_.erase(id);
                    session.status = SessionStatus::terminated();
                    coordinator->report(session.status, id, session.process->terminationStatus());
                });
            });
        });
    });
}

void TerminalCoordinator::dispose(SessionState& state) {
    if (state.disposed) return;
    state.disposed = true;
    state.masterHandle->close();
}

void TerminalCoordinator::terminateSession(const Uuid& id) {
    PELKO_REQUIRE_MAIN_THREAD();
    auto it = sessions_.find(id);
    if (it == sessions_.end()) return;
    auto state = it->second;
    sessions_.erase(it);
    // Decided before the master is closed: closing it hangs the terminal up, and the shell may die of
    // that at once, which must not turn a session ended while running into one found gone.
    bool running = !state->process->hasExited();
    dispose(*state);
    if (running) {
        state->process->sendSignal(SIGTERM);
        return;
    }
    state->status = SessionStatus::terminated();
    report(state->status, id, state->process->terminationStatus());
}

void TerminalCoordinator::terminateAll() {
    PELKO_REQUIRE_MAIN_THREAD();
    std::vector<Uuid> ids;
    for (const auto& [id, state] : sessions_) ids.push_back(id);
    for (const auto& id : ids) terminateSession(id);
}

TerminalCoordinator::SessionState* TerminalCoordinator::liveSession(const Uuid& sessionID) const {
    auto it = sessions_.find(sessionID);
    if (it == sessions_.end() || it->second->disposed || it->second->process->hasExited()) return nullptr;
    return it->second.get();
}

void TerminalCoordinator::write(const Uuid& sessionID, std::span<const std::uint8_t> data) {
    PELKO_REQUIRE_MAIN_THREAD();
    auto* state = liveSession(sessionID);
    if (!state) return;
    // Asked before the bytes are queued: once a prompt has its line it may turn echo back on.
    bool silent = state->masterHandle->atSilentPrompt();
    if (!state->masterHandle->queueInput(data)) {
        transitionToFailure(sessionID, "write_failed: " + posixDescription(ENOBUFS));
        return;
    }
    // What is typed where the terminal does not echo (a password) never reaches the disk; the event and
    // its length do.
    if (silent) {
        logger_->record({sessionID, TerminalLogEvent::Event::input, std::vector<std::uint8_t>{}, std::nullopt,
                         std::map<std::string, std::string>{{"length", std::to_string(data.size())}}});
        return;
    }
    logger_->record({sessionID, TerminalLogEvent::Event::input,
                     std::vector<std::uint8_t>(data.begin(), data.end()), std::nullopt, std::nullopt});
}

void TerminalCoordinator::sendSignal(const Uuid& sessionID, int signal) {
    PELKO_REQUIRE_MAIN_THREAD();
    auto* state = liveSession(sessionID);
    if (!state) return;
    try {
        PTYDriver::sendSignal(*state->process, state->masterHandle->fd(), signal);
        logger_->record({sessionID, TerminalLogEvent::Event::signal, std::nullopt, std::nullopt,
                         std::map<std::string, std::string>{{"signal", std::to_string(signal)}}});
    } catch (const PTYDriverError& error) {
        logger_->record({sessionID, TerminalLogEvent::Event::error, std::nullopt, "signal_failed",
                         std::map<std::string, std::string>{{"signal", std::to_string(signal)},
                                                            {"error", error.description()}}});
    }
}

void TerminalCoordinator::resize(const Uuid& sessionID, std::int64_t cols, std::int64_t rows) {
    PELKO_REQUIRE_MAIN_THREAD();
    auto* live = liveSession(sessionID);
    if (!live) return;
    auto& state = *live;
    int newCols = clampDimension(cols);
    int newRows = clampDimension(rows);
    winsize size{};
    size.ws_col = static_cast<unsigned short>(newCols);
    size.ws_row = static_cast<unsigned short>(newRows);
    std::optional<PTYDriverError> failure;
    if (ioctl(state.masterHandle->fd(), TIOCSWINSZ, &size) != 0) {
        failure = PTYDriverError(PTYDriverError::Code::resizeFailed, errno);
    } else if (int error = state.process->sendSignal(SIGWINCH); error != 0) {
        failure = PTYDriverError(PTYDriverError::Code::signalFailed, error);
    }
    if (failure) {
        transitionToFailure(sessionID, "resize_failed: " + failure->description());
        return;
    }
    state.cols = newCols;
    state.rows = newRows;
    logger_->record({sessionID, TerminalLogEvent::Event::resize, std::nullopt, std::nullopt,
                     std::map<std::string, std::string>{{"cols", std::to_string(newCols)},
                                                        {"rows", std::to_string(newRows)}}});
}

int TerminalCoordinator::clampDimension(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, 2, 65535));
}

std::optional<std::pair<int, int>> TerminalCoordinator::dimensions(const Uuid& sessionID) const {
    auto it = sessions_.find(sessionID);
    if (it == sessions_.end()) return std::nullopt;
    return std::make_pair(it->second->cols, it->second->rows);
}

std::size_t TerminalCoordinator::undeliveredOutputBytes(const Uuid& sessionID) const {
    auto it = sessions_.find(sessionID);
    return it == sessions_.end() ? 0 : it->second->outputFlow.undeliveredBytes();
}

void TerminalCoordinator::updateDebugDump(bool enabled) {
    PELKO_REQUIRE_MAIN_THREAD();
    if (enabled == debugDumpEnabled_) return;
    debugDumpEnabled_ = enabled;
    if (!enabled) {
        for (auto& [id, state] : sessions_) state->setDumpWriter(nullptr);
        return;
    }
    if (!debugDumpStore_ || !debugDumpStore_->prepareForWriting()) {
        debugDumpEnabled_ = false;
        return;
    }
    for (auto& [id, state] : sessions_) attachDumpWriter(*state);
}

void TerminalCoordinator::transitionToFailure(const Uuid& sessionID, const std::string& message) {
    auto it = sessions_.find(sessionID);
    if (it != sessions_.end()) it->second->status = SessionStatus::failed(message);
    report(SessionStatus::failed(message), sessionID, std::nullopt);
    logger_->record({sessionID, TerminalLogEvent::Event::error, std::nullopt, message, std::nullopt});
}

}  // namespace pelko
