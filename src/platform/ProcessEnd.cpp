#include "platform/ProcessEnd.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>

namespace pelko {
namespace {

using Clock = std::chrono::steady_clock;

// Never destroyed: a thread may still make or drop a Watch while the process exits.
struct Registry {
    std::mutex mutex;
    std::atomic<bool> begun{false};
    // Written before `begun`, read after it: readable without the lock, so from a wake-up too.
    std::atomic<Clock::rep> begunAt{0};
    std::set<ProcessEnd::Watch*> watches;
    int errands = 0;
    std::condition_variable errandsChanged;
};

Registry& registry() {
    static auto* shared = new Registry;
    return *shared;
}

thread_local int errandsRunningHere = 0;

Clock::time_point graceEnds(const Registry& shared) {
    return Clock::time_point(Clock::duration(shared.begunAt.load())) + ProcessEnd::errandGrace;
}

}  // namespace

void ProcessEnd::begin() {
    auto& shared = registry();
    std::lock_guard lock(shared.mutex);
    if (shared.begun) return;
    shared.begunAt = Clock::now().time_since_epoch().count();
    shared.begun = true;
    for (Watch* watch : shared.watches) watch->wake_();
}

bool ProcessEnd::hasBegun() {
    return registry().begun.load();
}

void ProcessEnd::awaitErrands() {
    auto& shared = registry();
    std::unique_lock lock(shared.mutex);
    if (!shared.begun) return;
    shared.errandsChanged.wait_until(lock, graceEnds(shared), [&] { return shared.errands == 0; });
}

bool ProcessEnd::onErrand() {
    return errandsRunningHere > 0;
}

std::chrono::milliseconds ProcessEnd::errandTimeLeft() {
    auto& shared = registry();
    if (!shared.begun) return errandGrace;
    const auto left = graceEnds(shared) - Clock::now();
    return std::max(std::chrono::ceil<std::chrono::milliseconds>(left), std::chrono::milliseconds(0));
}

ProcessEnd::Watch::Watch(std::function<void()> wake) : wake_(std::move(wake)) {
    auto& shared = registry();
    std::lock_guard lock(shared.mutex);
    if (shared.begun) {
        wake_();
        return;
    }
    shared.watches.insert(this);
}

ProcessEnd::Watch::~Watch() {
    auto& shared = registry();
    std::lock_guard lock(shared.mutex);
    shared.watches.erase(this);
}

ProcessEnd::Errand::Errand() {
    auto& shared = registry();
    std::lock_guard lock(shared.mutex);
    ++shared.errands;
}

ProcessEnd::Errand::~Errand() {
    auto& shared = registry();
    {
        std::lock_guard lock(shared.mutex);
        --shared.errands;
    }
    shared.errandsChanged.notify_all();
}

ProcessEnd::Errand::Running::Running() {
    ++errandsRunningHere;
}

ProcessEnd::Errand::Running::~Running() {
    --errandsRunningHere;
}

}  // namespace pelko
