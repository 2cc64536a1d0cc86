#include "bridge/MessageRoutes.hpp"

#include <algorithm>

#include "bridge/AnalyticsMessages.hpp"
#include "bridge/DashboardMessages.hpp"
#include "bridge/FileMessages.hpp"
#include "bridge/GitMessages.hpp"
#include "bridge/PreviewTabMessages.hpp"
#include "bridge/ProjectMessages.hpp"
#include "bridge/SignInMessages.hpp"
#include "bridge/TerminalMessages.hpp"

namespace pelko {

const std::unordered_map<std::string, MessageHandler>& MessageRoutes::table() {
    static const std::unordered_map<std::string, MessageHandler> routes{
        {"terminal/input", TerminalMessages::handle},
        {"cli/input", TerminalMessages::handle},
        {"terminal/create", TerminalMessages::handle},
        {"cli/create", TerminalMessages::handle},
        {"terminal/close", TerminalMessages::handle},
        {"cli/close", TerminalMessages::handle},
        {"terminal/resize", TerminalMessages::handle},
        {"cli/resize", TerminalMessages::handle},
        {"terminal/signal", TerminalMessages::handle},
        {"cli/signal", TerminalMessages::handle},
        {"terminal/focus", TerminalMessages::handle},

        {"project/open", ProjectMessages::handle},
        {"project/close", ProjectMessages::handle},
        {"project/activate", ProjectMessages::handle},
        {"project/resume", ProjectMessages::handle},
        {"project/reorder", ProjectMessages::handle},
        {"app/config/request", ProjectMessages::handle},

        {"project/explorer/directories/request", FileMessages::handle},
        {"project/file/open", FileMessages::handle},
        {"project/file/save", FileMessages::handle},
        {"project/file/rename", FileMessages::handle},

        {"github/oauth/start", SignInMessages::handle},
        {"github/oauth/logout", SignInMessages::handle},
        {"github/oauth/requestStatus", SignInMessages::handle},

        {"git/status", GitMessages::handle},
        {"git/status/detail", GitMessages::handle},
        {"git/commit", GitMessages::handle},
        {"git/push", GitMessages::handle},
        {"git/pull", GitMessages::handle},
        {"git/fetch", GitMessages::handle},
        {"git/diff", GitMessages::handle},
        {"git/history", GitMessages::handle},
        {"git/graph", GitMessages::handle},
        {"git/remote/tracking", GitMessages::handle},
        {"git/working-tree", GitMessages::handle},
        {"git/refresh/barrier", GitMessages::handle},
        {"git/commit/diff", GitMessages::handle},
        {"git/branch-map", GitMessages::handle},

        {"previewTabs/persist", PreviewTabMessages::handle},
        {"previewTabs/cache/write", PreviewTabMessages::handle},
        {"previewTabs/limitReached", PreviewTabMessages::handle},

        {"analytics/event", AnalyticsMessages::handle},

        {"dashboard.present", DashboardMessages::handle},
        {"dashboard.dismiss", DashboardMessages::handle},
    };
    return routes;
}

MessageHandler MessageRoutes::handler(const std::string& type) {
    auto found = table().find(type);
    return found == table().end() ? nullptr : found->second;
}

std::vector<std::string> MessageRoutes::types() {
    std::vector<std::string> types;
    for (const auto& [type, handler] : table()) types.push_back(type);
    std::sort(types.begin(), types.end());
    return types;
}

}  // namespace pelko
