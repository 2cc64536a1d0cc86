#include "bridge/BridgeContext.hpp"

#include <mutex>

#include "bridge/EventScript.hpp"
#include "bridge/WebBridge.hpp"
#include "config/ConfigStore.hpp"
#include "explorer/ExplorerService.hpp"
#include "platform/MainQueue.hpp"
#include "platform/ProcessEnd.hpp"

namespace pelko {

BridgeContext::BridgeContext(std::shared_ptr<GestureBridge> gestureBridge,
                             std::shared_ptr<ExplorerService> explorer)
    : fileQueue(std::make_shared<SerialQueue>(WebBridge::fileQueueLabel)),
      keyringQueue(std::make_shared<SerialQueue>(WebBridge::keyringQueueLabel)),
      gestureBridge(std::move(gestureBridge)),
      explorerService(explorer ? std::move(explorer) : std::make_shared<ExplorerService>()) {}

bool BridgeContext::dispatchEvent(const std::weak_ptr<BridgeContext>& context, const std::string& type,
                                  const Json& payload) {
    std::optional<std::string> script;
    try {
        script = EventScript::buildWithin(type, payload, ScriptDelivery::maxScriptBytes);
    } catch (const EncodeError&) {
        return false;  // a non-finite number: the event cannot be sent
    }
    if (!script) return false;
    if (MainQueue::isMainThread()) {
        if (auto self = context.lock()) self->delivery.deliver(std::move(*script));
        return true;
    }
    MainQueue::shared().async([weak = context, script = std::move(*script)]() mutable {
        if (auto self = weak.lock()) self->delivery.deliver(std::move(script));
    });
    return true;
}

bool BridgeContext::dispatchEvent(const std::string& type, const Json& payload) {
    return dispatchEvent(weak_from_this(), type, payload);
}

void BridgeContext::dispatchEventLater(BridgeEvent event) {
    MainQueue::shared().async([weak = weak_from_this(), event = std::move(event)] {
        dispatchEvent(weak, event.type, event.payload);
    });
}

void BridgeContext::runOnMain(std::function<void(BridgeContext&)> work) {
    if (MainQueue::isMainThread()) {
        work(*this);
        return;
    }
    runOnMainLater(std::move(work));
}

void BridgeContext::runOnMainLater(std::function<void(BridgeContext&)> work) {
    MainQueue::shared().async([weak = weak_from_this(), work = std::move(work)] {
        if (auto self = weak.lock()) work(*self);
    });
}

namespace {

// What the keyring queue hands back for one reserved place, taken once on the main thread.
struct KeyringOutcome {
    std::mutex mutex;
    BridgeContext::KeyringFinish finish;
};

// Fills the place with the outcome's events, unless there is no outcome yet or it was taken already.
bool complete(BridgeContext& self, ScriptDelivery::Place place, KeyringOutcome& outcome) {
    BridgeContext::KeyringFinish finish;
    {
        std::lock_guard lock(outcome.mutex);
        std::swap(finish, outcome.finish);
    }
    if (!finish) return false;
    std::vector<std::string> scripts;
    for (const auto& event : finish(self)) {
        try {
            scripts.push_back(EventScript::build(event.type, event.payload));
        } catch (const EncodeError&) {
            // a non-finite number: the event cannot be sent
        }
    }
    self.delivery.fill(place, std::move(scripts));
    return true;
}

}  // namespace

void BridgeContext::onKeyringQueue(std::function<KeyringFinish()> work, AtTheEnd atTheEnd) {
    PELKO_REQUIRE_MAIN_THREAD();
    auto place = delivery.reserve();
    auto outcome = std::make_shared<KeyringOutcome>();
    auto hold = std::make_unique<RepeatingTimer>();
    hold->start(keyringHold, [weak = weak_from_this(), place, outcome] {
        auto self = weak.lock();
        if (!self) return;
        // A keyring that answered while the main thread was busy still gets its place.
        if (!complete(*self, place, *outcome)) self->delivery.release(place);
        if (auto found = self->keyringHolds.find(place); found != self->keyringHolds.end())
            found->second->cancel();
        // Not from inside the timer's own tick.
        MainQueue::shared().async([weak, place] {
            if (auto context = weak.lock()) context->keyringHolds.erase(place);
        });
    });
    keyringHolds.emplace(place, std::move(hold));
    // Made now, so that the end waits for it even while it is still queued.
    auto errand = atTheEnd == AtTheEnd::kept ? std::make_shared<ProcessEnd::Errand>() : nullptr;
    keyringQueue->async([weak = weak_from_this(), place, outcome, work = std::move(work), errand]() mutable {
        // Once the end has begun the keyring is not asked but for an errand, and what it answers then
        // is no news.
        if (ProcessEnd::hasBegun() && !errand) return;
        KeyringFinish finish = errand ? errand->run(work) : work();
        errand.reset();
        if (ProcessEnd::hasBegun()) return;
        {
            std::lock_guard lock(outcome->mutex);
            outcome->finish = std::move(finish);
        }
        MainQueue::shared().async([weak, place, outcome] {
            auto self = weak.lock();
            if (!self) return;
            if (complete(*self, place, *outcome)) self->keyringHolds.erase(place);
        });
    });
}

std::optional<ProjectMetadata> BridgeContext::project(const Uuid& projectID) const {
    auto store = configStore.lock();
    return store ? store->project(projectID) : std::nullopt;
}

std::optional<std::filesystem::path> BridgeContext::projectRootPath(const Uuid& projectID) const {
    auto found = project(projectID);
    if (!found) return std::nullopt;
    return fileOperations->projectRoot(found->rootPath);
}

}  // namespace pelko
