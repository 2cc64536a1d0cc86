#include "app/AppServices.hpp"

#include "app/AnalyticsLogger.hpp"
#include "app/GestureBridge.hpp"
#include "app/ResourceBundle.hpp"
#include "app/WebAuthenticationSessionFactory.hpp"
#include "bridge/WebBridge.hpp"
#include "config/ConfigStore.hpp"
#include "config/PreviewTabsPersistenceService.hpp"
#include "dashboard/DashboardController.hpp"
#include "dashboard/DashboardLanguagesProvider.hpp"
#include "dashboard/DashboardMetricsService.hpp"
#include "dashboard/SystemMetricsService.hpp"
#include "git/GitCredentialBroker.hpp"
#include "git/GitService.hpp"
#include "git/ProcessGitProcessRunner.hpp"
#include "github/CurlGitHubGraphQLClient.hpp"
#include "github/CurlGitHubOAuthClient.hpp"
#include "github/DispatchRefreshScheduler.hpp"
#include "github/GitAuthManager.hpp"
#include "github/GitHubEndpoints.hpp"
#include "github/GitHubOAuthCoordinator.hpp"
#include "github/GitHubOAuthEnvironment.hpp"
#include "github/GitTokenRefresher.hpp"
#include "github/SecurityEventLogger.hpp"
#include "github/SystemKeychainStore.hpp"
#include "platform/Environment.hpp"
#include "platform/SerialQueue.hpp"
#include "terminal/CodexShimInstaller.hpp"
#include "terminal/TerminalService.hpp"

namespace pelko {

AppServices AppServices::build() {
    AppServices services;

    const auto endpoints = GitHubEndpoints::from(Environment::process());
    services.configStore = std::make_shared<ConfigStore>();
    services.authManager = std::make_shared<GitAuthManager>(std::make_shared<SystemKeychainStore>());
    auto gitRunner = std::make_shared<ProcessGitProcessRunner>();
    services.terminalService =
        TerminalService::create(services.configStore, nullptr, CodexShimInstaller::create());
    services.gitService = std::make_shared<GitService>(
        services.configStore, services.authManager, std::make_shared<GitCredentialBroker>(), gitRunner,
        std::make_shared<CurlGitHubGraphQLClient>(endpoints),
        GitService::Options{.gitHubWebBase = endpoints.oauthBase});
    services.gestureBridge = GestureBridge::create(pinchMagnitudeThreshold, pinchDispatchCooldown);
    services.bridge = WebBridge::create(services.gestureBridge);
    services.gestureBridge->setDelegate(services.bridge);
    services.previewTabsService = std::make_shared<PreviewTabsPersistenceService>();
    services.securityLogger = std::make_shared<SecurityEventLogger>();
    auto languagesProvider =
        std::make_shared<DashboardLanguagesProvider>(services.authManager, gitRunner, endpoints);
    services.analyticsLogger = std::make_shared<AnalyticsLogger>();
    auto metricsService = std::make_shared<DashboardMetricsService>(services.configStore, languagesProvider,
                                                                    gitRunner, services.analyticsLogger);
    services.dashboardController =
        DashboardController::create(metricsService, services.bridge, services.analyticsLogger);
    services.systemMetricsService = std::make_shared<SystemMetricsService>(5.0);
    services.systemMetricsService->setEventEmitter(services.bridge);

    if (auto settings =
            GitHubOAuthEnvironment::load(Environment::process(), ResourceBundle::resourceBundle())) {
        auto scheduler = std::make_shared<DispatchRefreshScheduler>(
            std::make_shared<SerialQueue>("app.pelko.oauth-refresh"));
        auto client = std::make_shared<CurlGitHubOAuthClient>(settings->clientID, settings->clientSecret,
                                                              settings->redirectURI, endpoints);
        services.tokenRefresher = GitTokenRefresher::create(services.authManager, client, scheduler);
        services.oauthCoordinator = GitHubOAuthCoordinator::create(
            {settings->clientID, settings->redirectURI, settings->scopes}, endpoints, services.authManager,
            client, services.tokenRefresher, std::make_shared<WebAuthenticationSessionFactory>());
    }

    services.bridge->configure({.terminalService = services.terminalService,
                                .gitService = services.gitService,
                                .configStore = services.configStore,
                                .authManager = services.authManager,
                                .securityLogger = services.securityLogger,
                                .previewTabsService = services.previewTabsService,
                                .dashboardController = services.dashboardController,
                                .analyticsLogger = services.analyticsLogger});
    if (services.oauthCoordinator && services.tokenRefresher) {
        services.bridge->attach(services.oauthCoordinator, services.tokenRefresher);
        auto stored = services.authManager->loadToken();
        if (stored && !stored->refreshToken.empty()) services.tokenRefresher->start();
    }
    services.systemMetricsService->start();
    return services;
}

}  // namespace pelko
