#include "app/PelkoApp.hpp"

#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/wayland/gdkwayland.h>
#endif

#include <cstdio>

#include "app/AppcastUpdater.hpp"
#include "app/ContentView.hpp"
#include "app/DialogUpdatePresenter.hpp"
#include "app/FileChooserFolderPicker.hpp"
#include "app/InputCommandCenter.hpp"
#include "app/ResourceBundle.hpp"
#include "app/WebViewLogger.hpp"
#include "app/WorkspaceWebView.hpp"
#include "bridge/WebBridge.hpp"
#include "platform/DataFolderLock.hpp"
#include "platform/Environment.hpp"
#include "platform/ProcessEnd.hpp"
#include "platform/PropertyList.hpp"
#include "platform/SystemLogger.hpp"
#include "platform/XdgFolders.hpp"
#include "platform/gui/ApplicationShell.hpp"

namespace pelko {

std::filesystem::path PelkoApp::dataFolder(const XdgFolders& folders) {
    const auto folder = folders.appData();
    std::error_code error;
    // A failure shows up later, as failed saves.
    std::filesystem::create_directories(folder, error);
    auto resolved = std::filesystem::weakly_canonical(folder, error);
    return error ? folder.lexically_normal() : resolved;
}

std::string PelkoApp::instanceId(const XdgFolders& folders) {
    const auto folder = dataFolder(folders);
    std::error_code error;
    const auto defaultFolder = std::filesystem::weakly_canonical(folders.home / ".local/share/pelko", error);
    if (!error && folder == defaultFolder) return applicationId;
    // A bus name element: letters and digits, not starting with a digit.
    gchar* digest = g_compute_checksum_for_string(G_CHECKSUM_SHA256, folder.c_str(), -1);
    std::string id = std::string(applicationId) + ".Data" + std::string(digest, 16);
    g_free(digest);
    return id;
}

namespace {

// GtkApplication names a Wayland window after its bus name, which differs per configuration folder;
// the launcher is found by the application identifier alone.
void onWindowRealized(GtkWidget* window, gpointer) {
#ifdef GDK_WINDOWING_WAYLAND
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
    if (GDK_IS_WAYLAND_TOPLEVEL(surface))
        gdk_wayland_toplevel_set_application_id(GDK_TOPLEVEL(surface), PelkoApp::applicationId);
#else
    (void)window;
#endif
}

}  // namespace

PelkoApp::PelkoApp() {
    // The program name is the window's WM_CLASS on X11 and its first app-id on Wayland: the same as
    // the launcher's name and StartupWMClass, so desktops match the window to its launcher and icon.
    g_set_prgname(applicationId);
    shell_ = std::make_unique<ApplicationShell>([] { return instanceId(XdgFolders::process()); });
}

bool PelkoApp::holdDataFolder() {
    // Runs only once the bus has made this process the first of its folder: a start handed over on
    // the same bus never gets here. One that does and finds the folder held was started where the
    // holder cannot be reached.
    const auto folder = dataFolder(XdgFolders::process());
    gchar* escaped = g_strescape(folder.c_str(), nullptr);
    const std::string shown(escaped);
    g_free(escaped);
    auto lock = DataFolderLock::take(folder);
    switch (lock.outcome()) {
        case DataFolderLock::Outcome::held:
            dataFolderLock_ = std::make_unique<DataFolderLock>(std::move(lock));
            return true;
        case DataFolderLock::Outcome::heldElsewhere:
            std::fprintf(stderr,
                         "pelko: %s is in use by another pelko that this one cannot reach (it runs on "
                         "another D-Bus session bus, or one of the two has none); close that one first, "
                         "or start this one with another XDG_DATA_HOME\n",
                         shown.c_str());
            return false;
        case DataFolderLock::Outcome::unavailable:
            // Not a reason to lock the user out: mostly nothing can be saved there either.
            SystemLogger("app.pelko", "instance")
                .notice("the data folder " + shown + " cannot be locked: " + lock.detail());
            return true;
    }
    return true;
}

bool PelkoApp::startup() {
    if (!holdDataFolder()) return false;
    services_ = AppServices::build();
    auto parent = [this] { return parentWindow(); };
    services_.bridge->setFolderPicker(std::make_shared<FileChooserFolderPicker>(parent));

    const auto& bundle = ResourceBundle::resourceBundle();
    const PropertyList info = PropertyList::read(bundle / "Info.plist").value_or(PropertyList{});
    updater_ =
        AppcastUpdater::create(info, Environment::process(), std::make_shared<DialogUpdatePresenter>(parent));

    std::weak_ptr<AppcastUpdater> updater = updater_;
    shell_->addCommand(
        {"pelko", "Check for Updates...", "check-for-updates", "", updater_->isEnabled(), [updater] {
             if (auto self = updater.lock()) self->checkForUpdates();
         }});
    shell_->addCommand({"Projects", "Next Project", "next-project", "<Control><Alt>Right", true, [this] {
                            if (commandCenter_ && commandCenter_->onNextProject)
                                commandCenter_->onNextProject();
                        }});
    shell_->addCommand(
        {"Projects", "Previous Project", "previous-project", "<Control><Alt>Left", true, [this] {
             if (commandCenter_ && commandCenter_->onPreviousProject) commandCenter_->onPreviousProject();
         }});

    updater_->checkForUpdateInformation();
    return true;
}

PelkoApp::~PelkoApp() = default;

int PelkoApp::run(int argc, char** argv) {
    int status = shell_->run(
        argc, argv, version, [this] { return startup(); }, [this] { activate(); });
    // From here on every exchange with a server or the keyring still waiting is cut off, and later ones
    // are not made, so no worker or queue joined below (or when the services go) waits for someone
    // else; Git's workers and children end before anything they use does. The one wait: the errands
    // (a token pair GitHub already sent, a sign-out asked for) get the keyring for a second at most.
    ProcessEnd::begin();
    ProcessEnd::awaitErrands();
    if (services_.gitService) services_.gitService->shutdown();
    return status;
}

void PelkoApp::activate() {
    if (webView_) {
        webView_->window()->present();
        return;
    }
    showWindow();
}

void PelkoApp::showWindow() {
    const auto& bundle = ResourceBundle::resourceBundle();
    // The application icon, when the bundle has one.
    if (std::filesystem::exists(bundle / "AppIcon.png")) {
        gtk_icon_theme_add_search_path(gtk_icon_theme_get_for_display(gdk_display_get_default()),
                                       bundle.c_str());
        gtk_window_set_default_icon_name("AppIcon");
    } else {
        // The installed icon in the hicolor theme.
        gtk_window_set_default_icon_name(applicationId);
    }
    webView_ = WorkspaceWebView::create(shell_->application(), services_.bridge, services_.gestureBridge,
                                        bundle, WebViewLogger::shared());
    auto* window = GTK_WIDGET(webView_->window()->window());
    g_signal_connect_after(window, "realize", G_CALLBACK(onWindowRealized), nullptr);
    if (gtk_widget_get_realized(window)) onWindowRealized(window, nullptr);
    contentView_ = ContentView::create(services_.bridge, services_.configStore, commandCenter(),
                                       services_.terminalService, services_.gitService);
    webView_->window()->present();
    contentView_->appear();
}

std::shared_ptr<InputCommandCenter> PelkoApp::commandCenter() {
    if (!commandCenter_) commandCenter_ = InputCommandCenter::create(webView_ ? webView_->window() : nullptr);
    return commandCenter_;
}

void* PelkoApp::parentWindow() const {
    return webView_ ? webView_->window()->window() : nullptr;
}

}  // namespace pelko
