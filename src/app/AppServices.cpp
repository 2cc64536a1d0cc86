#include "app/AppServices.hpp"

#include "app/AnalyticsLogger.hpp"
#include "app/GestureBridge.hpp"
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
#include "github/GitAuthManager.hpp"
#include "github/GitHubEndpoints.hpp"
#include "github/SystemKeychainStore.hpp"
#include "platform/Environment.hpp"
#include "terminal/CodexShimInstaller.hpp"
#include "terminal/TerminalService.hpp"

namespace pelko {

AppServices AppServices::build() {
    AppServices services;

    services.configStore = std::make_shared<ConfigStore>();
    auto authManager = std::make_shared<GitAuthManager>(std::make_shared<SystemKeychainStore>());
    auto gitRunner = std::make_shared<ProcessGitProcessRunner>();
    services.terminalService =
        TerminalService::create(services.configStore, nullptr, CodexShimInstaller::create());
    auto endpoints = GitHubEndpoints::from(Environment::process());
    services.gitService = std::make_shared<GitService>(
        services.configStore, authManager, std::make_shared<GitCredentialBroker>(), gitRunner,
        std::make_shared<CurlGitHubGraphQLClient>(endpoints),
        GitService::Options{.gitHubWebHost = GitRemoteURL::hostOf(endpoints.oauthBase)});
    services.gestureBridge = GestureBridge::create(pinchMagnitudeThreshold, pinchDispatchCooldown);
    services.bridge = WebBridge::create(services.gestureBridge);
    services.gestureBridge->setDelegate(services.bridge);
    services.previewTabsService = std::make_shared<PreviewTabsPersistenceService>();
    auto languagesProvider = std::make_shared<DashboardLanguagesProvider>(
        authManager, gitRunner, endpoints);
    services.analyticsLogger = std::make_shared<AnalyticsLogger>();
    auto metricsService = std::make_shared<DashboardMetricsService>(services.configStore, languagesProvider,
                                                                    gitRunner, services.analyticsLogger);
    services.dashboardController =
        DashboardController::create(metricsService, services.bridge, services.analyticsLogger);
    services.systemMetricsService = std::make_shared<SystemMetricsService>(5.0);
    services.systemMetricsService->setEventEmitter(services.bridge);

    services.bridge->configure({.terminalService = services.terminalService,
                                .gitService = services.gitService,
                                .configStore = services.configStore,
                                .previewTabsService = services.previewTabsService,
                                .dashboardController = services.dashboardController,
                                .analyticsLogger = services.analyticsLogger});
    services.systemMetricsService->start();
    return services;
}

}  // namespace pelko
