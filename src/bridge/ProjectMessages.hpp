#pragma once
// ProjectMessages: the page's project requests ("project/open", "project/close", "project/activate",
// "project/resume", "project/reorder") and "app/config/request", carried out on the configuration
// store, and the configuration and activation the bridge sends. Main thread; requests that change the
// store run at once on the main thread.
#include <string>

#include "platform/Json.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

class BridgeContext;
struct AppConfig;

struct ProjectMessages {
    static void handle(BridgeContext& context, const std::string& type, const Json* payload);
    // Caches the configuration, sends "app/config", then "github/oauth/status".
    static void updateConfigSnapshot(BridgeContext& context, const AppConfig& config);
};

}  // namespace pelko
