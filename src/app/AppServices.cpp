#include "app/AppServices.hpp"

#include "app/AnalyticsLogger.hpp"
#include "app/GestureBridge.hpp"
#include "bridge/WebBridge.hpp"
#include "config/ConfigStore.hpp"
#include "config/PreviewTabsPersistenceService.hpp"
#include "terminal/CodexShimInstaller.hpp"
#include "terminal/TerminalService.hpp"

namespace pelko {

AppServices AppServices::build() {
    AppServices services;

    services.configStore = std::make_shared<ConfigStore>();
    // The GitHub token manager over the keychain comes here, then the Git process runner and the
    // local-history provider.
    services.terminalService =
        TerminalService::create(services.configStore, nullptr, CodexShimInstaller::create());
    // The credential broker and the Git service (with its GraphQL client and branch map) come here.
    services.gestureBridge = GestureBridge::create(pinchMagnitudeThreshold, pinchDispatchCooldown);
    services.bridge = WebBridge::create(services.gestureBridge);
    services.gestureBridge->setDelegate(services.bridge);
    services.previewTabsService = std::make_shared<PreviewTabsPersistenceService>();
    // The security event logger and the dashboard's languages provider come here.
    services.analyticsLogger = std::make_shared<AnalyticsLogger>();
    // The dashboard's metrics service and controller, the system metrics service and, with OAuth
    // settings, the sign-in services come here.

    services.bridge->configure(services.terminalService, services.gitService, services.configStore,
                               /*authManager=*/nullptr, /*securityLogger=*/nullptr,
                               services.previewTabsService,
                               /*dashboardController=*/nullptr, services.analyticsLogger);
    // With OAuth settings: bridge->attach(coordinator, refresher) and the refresher's start; then
    // the system metrics sampling starts.
    return services;
}

}  // namespace pelko
