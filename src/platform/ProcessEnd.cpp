#include "platform/ProcessEnd.hpp"

#include <atomic>
#include <mutex>
#include <set>

namespace pelko {
namespace {

// Never destroyed: a thread may still make or drop a Watch while the process exits.
struct Registry {
    std::mutex mutex;
    std::atomic<bool> begun{false};
    std::set<ProcessEnd::Watch*> watches;
};

Registry& registry() {
    static auto* shared = new Registry;
    return *shared;
}

}  // namespace

void ProcessEnd::begin() {
    auto& shared = registry();
    std::lock_guard lock(shared.mutex);
    if (shared.begun.exchange(true)) return;
    for (Watch* watch : shared.watches) watch->wake_();
}

bool ProcessEnd::hasBegun() {
    return registry().begun.load();
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

}  // namespace pelko
