#include "app/WebProcessCrashRecovery.hpp"

namespace pelko {

bool WebProcessCrashRecovery::shouldReload(Clock::time_point now) {
    while (!reloads_.empty() && now - reloads_.front() >= window) reloads_.pop_front();
    if (reloads_.size() >= maximumReloads) return false;
    reloads_.push_back(now);
    return true;
}

}  // namespace pelko
