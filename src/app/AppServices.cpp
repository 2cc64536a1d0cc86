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
    services.terminalService =
        TerminalService::create(services.configStore, nullptr, CodexShimInstaller::create());
    services.gestureBridge = GestureBridge::create(pinchMagnitudeThreshold, pinchDispatchCooldown);
    services.bridge = WebBridge::create(services.gestureBridge);
    services.gestureBridge->setDelegate(services.bridge);
    services.previewTabsService = std::make_shared<PreviewTabsPersistenceService>();
    services.analyticsLogger = std::make_shared<AnalyticsLogger>();

    services.bridge->configure({.terminalService = services.terminalService,
                                .gitService = services.gitService,
                                .configStore = services.configStore,
                                .previewTabsService = services.previewTabsService,
                                .analyticsLogger = services.analyticsLogger});
    return services;
}

}  // namespace pelko
