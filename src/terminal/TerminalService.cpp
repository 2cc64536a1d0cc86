#include "terminal/TerminalService.hpp"

#include <signal.h>

#include <algorithm>
#include <cctype>

#include "config/ConfigStore.hpp"
#include "platform/MainQueue.hpp"
#include "terminal/CodexShimInstaller.hpp"
#include "terminal/TerminalCoordinator.hpp"
#include "terminal/TerminalDebugDumpStore.hpp"
#include "terminal/TerminalInputModeSwitcher.hpp"
#include "terminal/TerminalNativeInputClassifier.hpp"

namespace pelko {

namespace {

bool hasFeature(const AppConfig& config, AppConfig::Feature feature) {
    return config.enabledFeatures.count(feature) != 0;
}

}  // namespace

std::shared_ptr<TerminalService> TerminalService::create(
    std::shared_ptr<ConfigStore> configStore, std::shared_ptr<TerminalCoordinator> coordinator,
    std::shared_ptr<CodexShimInstaller> codexShimInstaller,
    std::shared_ptr<TerminalInputModeSwitcher> inputModeSwitcher) {
    if (!coordinator) coordinator = TerminalCoordinator::makeDefault();
    if (!inputModeSwitcher) {
        inputModeSwitcher =
            std::make_shared<TerminalInputModeSwitcher>(TextInputSourceServices::makeDefault());
    }
    std::shared_ptr<TerminalService> service(
        new TerminalService(std::move(configStore), std::move(coordinator), std::move(codexShimInstaller),
                            std::move(inputModeSwitcher)));
    service->start();
    return service;
}

TerminalService::TerminalService(std::shared_ptr<ConfigStore> configStore,
                                 std::shared_ptr<TerminalCoordinator> coordinator,
                                 std::shared_ptr<CodexShimInstaller> codexShimInstaller,
                                 std::shared_ptr<TerminalInputModeSwitcher> inputModeSwitcher)
    : configStore_(std::move(configStore)),
      coordinator_(std::move(coordinator)),
      codexShimInstaller_(std::move(codexShimInstaller)),
      inputModeSwitcher_(std::move(inputModeSwitcher)) {}

TerminalService::~TerminalService() = default;

void TerminalService::start() {
    coordinator_->setDelegate(weak_from_this());
    if (const auto& store = coordinator_->debugDumpStore()) store->performStartupMaintenance();
    coordinator_->updateDebugDump(hasFeature(configStore_->config(), AppConfig::Feature::terminalDebugDump));
    if (codexShimInstaller_)
        coordinator_->setEnvironmentOverrides(codexShimInstaller_->environmentOverrides());
    std::weak_ptr<TerminalService> weak = weak_from_this();
    // Each change is reconciled against the configuration as it is when the delivery runs, not as it
    // was published: a session created in between would otherwise be ended and started again.
    configSubscription_ = configStore_->subscribe([weak](const AppConfig&) {
        MainQueue::shared().async([weak] {
            if (auto self = weak.lock()) self->handleConfigChange(AppConfig(self->configStore_->config()));
        });
    });
}

void TerminalService::attach(std::weak_ptr<TerminalBridging> bridge) {
    PELKO_REQUIRE_MAIN_THREAD();
    {
        std::lock_guard lock(bridgeMutex_);
        bridge_ = std::move(bridge);
    }
    sendSnapshot();
}

std::shared_ptr<TerminalBridging> TerminalService::bridge() const {
    std::lock_guard lock(bridgeMutex_);
    return bridge_.lock();
}

void TerminalService::sendSnapshot() {
    PELKO_REQUIRE_MAIN_THREAD();
    dispatchSnapshot(configStore_->config().cliSessions, isTerminalV2Enabled());
}

void TerminalService::bootstrapIfNeeded() {
    PELKO_REQUIRE_MAIN_THREAD();
    if (hasBootstrapped_) return;
    hasBootstrapped_ = true;
    sendSnapshot();
}

bool TerminalService::isTerminalV2Enabled() const {
    return hasFeature(configStore_->config(), AppConfig::Feature::terminalV2);
}

TerminalService::RuntimeState TerminalService::bootingRecord(const Uuid& id) const {
    RuntimeState record;
    auto size = coordinator_->dimensions(id).value_or(
        std::make_pair(TerminalCoordinator::defaultCols, TerminalCoordinator::defaultRows));
    record.cols = size.first;
    record.rows = size.second;
    return record;
}

void TerminalService::forget(const Uuid& id) {
    unavailableNotifiedSessions_.erase(id);
    runtimeStates_.erase(id);
    if (activeInputSessionID_ == id) activeInputSessionID_.reset();
}

void TerminalService::handleConfigChange(const AppConfig& config) {
    std::set<Uuid> configured;
    for (const auto& session : config.cliSessions) configured.insert(session.id);
    std::erase_if(unavailableNotifiedSessions_, [&](const Uuid& id) { return !configured.count(id); });
    std::erase_if(runtimeStates_, [&](const auto& entry) { return !configured.count(entry.first); });
    if (activeInputSessionID_ && !configured.count(*activeInputSessionID_)) activeInputSessionID_.reset();

    coordinator_->updateDebugDump(hasFeature(config, AppConfig::Feature::terminalDebugDump));
    bool enabled = hasFeature(config, AppConfig::Feature::terminalV2);
    if (enabled) {
        // Records first, so a start that fails during this reconciliation leaves "failed", not "booting".
        for (const auto& session : config.cliSessions) {
            if (!runtimeStates_.count(session.id)) runtimeStates_[session.id] = bootingRecord(session.id);
        }
        coordinator_->synchronize(config.cliSessions);
    } else {
        coordinator_->terminateAll();
        runtimeStates_.clear();
    }
    dispatchSnapshot(config.cliSessions, enabled);
}

void TerminalService::dispatchSnapshot(const std::vector<CLISessionConfig>& sessions, bool featureEnabled) {
    auto target = bridge();
    if (!target) return;
    TerminalSnapshotPayload payload;
    for (const auto& session : sessions) {
        TerminalSnapshotPayload::Session entry;
        entry.id = session.id.string();
        entry.title = session.title;
        entry.workingDirectory = session.workingDirectory;
        if (session.projectId) entry.projectId = session.projectId->string();
        auto record = runtimeStates_.find(session.id);
        if (!featureEnabled) {
            entry.status = "unavailable";
        } else if (record != runtimeStates_.end()) {
            entry.status = record->second.status.word();
        } else {
            entry.status = "pending";
        }
        if (record != runtimeStates_.end()) {
            entry.cols = record->second.cols;
            entry.rows = record->second.rows;
            entry.pid = record->second.pid;
        }
        payload.sessions.push_back(std::move(entry));
    }
    target->dispatchTerminalSnapshot(payload);
}

void TerminalService::createSession(const std::optional<std::string>& title,
                                    const std::optional<Uuid>& projectID) {
    PELKO_REQUIRE_MAIN_THREAD();
    if (configStore_->config().cliSessions.size() >= coordinator_->maxSessions()) {
        // Nothing is added; the identifier names no session (the page asked for none in particular).
        if (auto target = bridge())
            target->dispatchTerminalError(Uuid::random().string(), coordinator_->sessionLimitReached());
        return;
    }
    CLISessionConfig session = configStore_->addCLISession(title, projectID);
    runtimeStates_[session.id] = bootingRecord(session.id);
    bool enabled = isTerminalV2Enabled();
    dispatchSnapshot(configStore_->config().cliSessions, enabled);
    if (!enabled) {
        notifyUnavailable(session.id, session.title);
    } else {
        coordinator_->startSession(session);
    }
}

void TerminalService::closeSession(const Uuid& id) {
    PELKO_REQUIRE_MAIN_THREAD();
    // The flag as it was when the page closed the session (re-applying the defaults may switch it on).
    bool enabled = isTerminalV2Enabled();
    configStore_->removeCLISession(id);
    forget(id);
    if (enabled) {
        coordinator_->terminateSession(id);
    } else if (auto target = bridge()) {
        target->dispatchTerminalStatus(id.string(), "closed", std::nullopt);
    }
    dispatchSnapshot(configStore_->config().cliSessions, enabled);
}

void TerminalService::terminateSessions(const std::vector<Uuid>& ids) {
    PELKO_REQUIRE_MAIN_THREAD();
    if (ids.empty()) return;
    for (const auto& id : ids) {
        forget(id);
        coordinator_->terminateSession(id);
    }
    sendSnapshot();
}

void TerminalService::resizeSession(const Uuid& id, std::int64_t cols, std::int64_t rows) {
    PELKO_REQUIRE_MAIN_THREAD();
    if (!isTerminalV2Enabled()) return;
    // A size is kept only for a configured session: a page naming other ids makes nothing.
    const auto& sessions = configStore_->config().cliSessions;
    if (std::none_of(sessions.begin(), sessions.end(), [&](const auto& session) { return session.id == id; }))
        return;
    int newCols = TerminalCoordinator::clampDimension(cols);
    int newRows = TerminalCoordinator::clampDimension(rows);
    coordinator_->resize(id, newCols, newRows);
    auto record = runtimeStates_.find(id);
    bool changed = true;
    if (record != runtimeStates_.end()) {
        changed = record->second.cols != newCols || record->second.rows != newRows;
        record->second.cols = newCols;
        record->second.rows = newRows;
    } else {
        RuntimeState state;
        state.cols = newCols;
        state.rows = newRows;
        runtimeStates_[id] = state;
    }
    if (!changed) return;
    if (auto target = bridge()) target->dispatchTerminalResize(id.string(), newCols, newRows);
}

void TerminalService::sendInput(const Uuid& sessionID, std::span<const std::uint8_t> data) {
    PELKO_REQUIRE_MAIN_THREAD();
    if (isTerminalV2Enabled()) {
        coordinator_->write(sessionID, data);
    } else {
        notifyUnavailable(sessionID, std::nullopt);
    }
}

void TerminalService::sendSignal(const Uuid& sessionID, std::string_view signal) {
    PELKO_REQUIRE_MAIN_THREAD();
    if (!isTerminalV2Enabled()) return;
    std::string upper(signal);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper == "SIGINT") coordinator_->sendSignal(sessionID, SIGINT);
}

void TerminalService::setInputFocus(const Uuid& sessionID, bool focused) {
    PELKO_REQUIRE_MAIN_THREAD();
    if (focused) {
        activeInputSessionID_ = sessionID;
    } else if (activeInputSessionID_ == sessionID) {
        activeInputSessionID_.reset();
    }
}

bool TerminalService::handleNativeKeyDown(const NativeKeyEvent& event) {
    PELKO_REQUIRE_MAIN_THREAD();
    if (!activeInputSessionID_) return false;
    if (event.keyCode == NativeKeyEvent::eisuKeyCode || event.keyCode == NativeKeyEvent::kanaKeyCode) {
        auto mode = event.keyCode == NativeKeyEvent::eisuKeyCode ? TerminalNativeInputMode::ascii
                                                                 : TerminalNativeInputMode::japanese;
        auto source = inputModeSwitcher_->inputSource(mode);
        return source && inputModeSwitcher_->select(*source);
    }
    auto text = TerminalNativeInputClassifier::printableASCIIText(event.characters, event.modifierFlags,
                                                                  event.keyCode, event.composing);
    // Asking the input method is a round trip: only for a key that would otherwise be typed.
    if (!text || inputModeSwitcher_->currentInputSourceRequiresComposition()) return false;
    if (isTerminalV2Enabled()) {
        coordinator_->write(*activeInputSessionID_,
                            std::span(reinterpret_cast<const std::uint8_t*>(text->data()), text->size()));
    } else {
        notifyUnavailable(*activeInputSessionID_, std::nullopt);
    }
    return true;
}

void TerminalService::notifyUnavailable(const Uuid& sessionID, const std::optional<std::string>& title) {
    if (isTerminalV2Enabled()) return;
    auto target = bridge();
    if (!target || unavailableNotifiedSessions_.count(sessionID)) return;
    unavailableNotifiedSessions_.insert(sessionID);
    std::string text = "[pelko] Terminal2 準備中: " + (title ? *title : sessionID.string());
    target->dispatchTerminalOutput(
        sessionID.string(), std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    target->dispatchTerminalStatus(sessionID.string(), "unavailable", std::nullopt);
}

void TerminalService::terminalCoordinatorDidCreateSession(const TerminalSessionInfo& info) {
    RuntimeState record;
    record.cols = info.cols;
    record.rows = info.rows;
    record.pid = info.pid;
    runtimeStates_[info.id] = record;
    if (auto target = bridge()) {
        target->dispatchTerminalCreated(TerminalCreatedPayload{
            info.id.string(), info.pid, info.cols, info.rows, info.title, info.workingDirectory, info.shell});
    }
    dispatchSnapshot(configStore_->config().cliSessions, true);
}

void TerminalService::terminalCoordinatorDidUpdateStatus(const TerminalSessionStatus& status,
                                                         const Uuid& sessionID,
                                                         std::optional<std::int32_t> exitCode) {
    if (auto record = runtimeStates_.find(sessionID); record != runtimeStates_.end())
        record->second.status = status;
    if (auto target = bridge()) {
        std::string id = sessionID.string();
        target->dispatchTerminalStatus(id, status.word(), exitCode);
        if (status.kind() == TerminalSessionStatus::Kind::failed) {
            target->dispatchTerminalError(id, status.message());
        } else if (status.kind() == TerminalSessionStatus::Kind::terminated) {
            target->dispatchTerminalExit(id, exitCode.value_or(0));
        }
    }
    dispatchSnapshot(configStore_->config().cliSessions, true);
}

void TerminalService::terminalCoordinatorDidReceiveOutput(std::span<const std::uint8_t> data,
                                                          const Uuid& sessionID,
                                                          std::function<void()> onDelivered) {
    auto target = bridge();
    if (!target) {
        onDelivered();
        return;
    }
    std::string id = sessionID.string();
    target->deliverTerminalOutput(id, data, std::move(onDelivered));
    target->dispatchTerminalActivity(id);
}

}  // namespace pelko
