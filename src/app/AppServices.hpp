#pragma once
// AppServices: every long-lived service of the application, built once, synchronously on the main
// thread, before any window exists, and wired to the web bridge. Construction follows the fixed
// order of the application's start: configuration store (built-in default; the file is read later by
// the content view), GitHub token manager over the keyring, Git runner, [local history], terminal
// service with its coordinator and codex shim installer, [credential broker and Git service], gesture
// bridge, web bridge with its explorer service, preview-tab persistence (reads its database now),
// security log, dashboard languages provider, analytics logger, dashboard metrics and controller,
// system metrics (the bridge its emitter), and, only when the OAuth settings yield a client
// identifier, the refresh scheduler on "app.pelko.oauth-refresh", the OAuth client, the token
// refresher, the sign-in window factory and the sign-in coordinator. Bracketed services belong to the
// Git subsystem and join here, in these places, when they exist.
//
// Wiring then makes the bridge the terminal service's bridge (first "terminal/snapshot") and sends
// the sign-in status; with sign-in configured, attaches the coordinator and refresher (a second
// status) and starts the refresher when the stored token has a refresh token; then starts the system
// metrics (first "system/metrics"). All events wait in the bridge until the page has loaded. Nothing
// here fails visibly. Everything lives until the process ends.
#include <memory>

namespace pelko {

class AnalyticsLogger;
class ConfigStore;
class DashboardController;
class GestureBridge;
class GitAuthManager;
class GitHubOAuthCoordinator;
class GitServicing;
class GitTokenRefresher;
class SecurityEventLogger;
class PreviewTabsPersistenceService;
class SystemMetricsService;
class TerminalService;
class WebBridge;

struct AppServices {
    static constexpr double pinchMagnitudeThreshold = 0.12;
    static constexpr double pinchDispatchCooldown = 0.35;

    std::shared_ptr<ConfigStore> configStore;
    std::shared_ptr<GitAuthManager> authManager;
    std::shared_ptr<TerminalService> terminalService;
    std::shared_ptr<GitServicing> gitService;
    std::shared_ptr<GestureBridge> gestureBridge;
    std::shared_ptr<WebBridge> bridge;
    std::shared_ptr<PreviewTabsPersistenceService> previewTabsService;
    std::shared_ptr<SecurityEventLogger> securityLogger;
    std::shared_ptr<DashboardController> dashboardController;
    std::shared_ptr<AnalyticsLogger> analyticsLogger;
    std::shared_ptr<SystemMetricsService> systemMetricsService;
    // Only when the OAuth settings yield a client identifier.
    std::shared_ptr<GitTokenRefresher> tokenRefresher;
    std::shared_ptr<GitHubOAuthCoordinator> oauthCoordinator;

    // Builds and wires everything, with the process's folders.
    static AppServices build();
};

}  // namespace pelko
