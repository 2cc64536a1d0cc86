#include "platform/gui/ApplicationShell.hpp"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>

#include "platform/gui/SoftwareRendering.hpp"

namespace pelko {

struct ApplicationShell::Impl {
    GtkApplication* application = nullptr;
    std::vector<Command> commands;
    std::function<std::string()> applicationId;
    std::function<bool()> startup;
    std::function<void()> activate;
    std::string version;
    bool refused = false;
    guint signalSources[2] = {0, 0};
};

namespace {

using Impl = ApplicationShell::Impl;

void onAction(GSimpleAction*, GVariant*, gpointer data) {
    auto* handler = static_cast<std::function<void()>*>(data);
    if (*handler) (*handler)();
}

// A termination signal ends the application the way closing its window does.
gboolean onTerminationSignal(gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    GList* windows = g_list_copy(gtk_application_get_windows(impl->application));
    for (GList* item = windows; item; item = item->next) gtk_window_destroy(GTK_WINDOW(item->data));
    g_list_free(windows);
    g_application_quit(G_APPLICATION(impl->application));
    return G_SOURCE_CONTINUE;
}

gint onLocalOptions(GApplication* app, GVariantDict* options, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    if (g_variant_dict_contains(options, "version")) {
        std::printf("%s\n", impl->version.c_str());
        return 0;
    }
    // Only a run is keyed: the options above end before anything is looked up or created.
    g_application_set_application_id(app, impl->applicationId().c_str());
    return -1;
}

void onStartup(GApplication* app, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    chooseWindowRenderer();
    impl->signalSources[0] = g_unix_signal_add(SIGTERM, onTerminationSignal, impl);
    impl->signalSources[1] = g_unix_signal_add(SIGINT, onTerminationSignal, impl);
    if (impl->startup && !impl->startup()) {
        impl->refused = true;
        g_application_quit(app);
        return;
    }
    GMenu* menubar = g_menu_new();
    std::vector<std::pair<std::string, GMenu*>> menus;
    for (auto& command : impl->commands) {
        GSimpleAction* action = g_simple_action_new(command.action.c_str(), nullptr);
        g_simple_action_set_enabled(action, command.enabled);
        g_signal_connect(action, "activate", G_CALLBACK(onAction), &command.handler);
        g_action_map_add_action(G_ACTION_MAP(app), G_ACTION(action));
        g_object_unref(action);

        const std::string detailed = "app." + command.action;
        if (!command.accelerator.empty()) {
            const char* accels[] = {command.accelerator.c_str(), nullptr};
            gtk_application_set_accels_for_action(GTK_APPLICATION(app), detailed.c_str(), accels);
        }
        GMenu* menu = nullptr;
        for (auto& [name, existing] : menus) {
            if (name == command.menu) menu = existing;
        }
        if (!menu) {
            menu = g_menu_new();
            menus.emplace_back(command.menu, menu);
        }
        g_menu_append(menu, command.label.c_str(), detailed.c_str());
    }
    for (auto& [name, menu] : menus) {
        g_menu_append_submenu(menubar, name.c_str(), G_MENU_MODEL(menu));
        g_object_unref(menu);
    }
    gtk_application_set_menubar(GTK_APPLICATION(app), G_MENU_MODEL(menubar));
    g_object_unref(menubar);
}

void onActivate(GApplication*, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    if (impl->activate && !impl->refused) impl->activate();
}

}  // namespace

ApplicationShell::ApplicationShell(std::function<std::string()> applicationId)
    : impl_(std::make_unique<Impl>()) {
    impl_->applicationId = std::move(applicationId);
    impl_->application = gtk_application_new(nullptr, G_APPLICATION_DEFAULT_FLAGS);
    static const GOptionEntry entries[] = {
        {"version", 0, 0, G_OPTION_ARG_NONE, nullptr, "Print the version and exit", nullptr},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };
    g_application_add_main_option_entries(G_APPLICATION(impl_->application), entries);
    g_signal_connect(impl_->application, "handle-local-options", G_CALLBACK(onLocalOptions), impl_.get());
    g_signal_connect(impl_->application, "startup", G_CALLBACK(onStartup), impl_.get());
    g_signal_connect(impl_->application, "activate", G_CALLBACK(onActivate), impl_.get());
}

ApplicationShell::~ApplicationShell() {
    for (guint source : impl_->signalSources) {
        if (source) g_source_remove(source);
    }
    g_signal_handlers_disconnect_by_data(impl_->application, impl_.get());
    g_object_unref(impl_->application);
}

void ApplicationShell::addCommand(Command command) {
    impl_->commands.push_back(std::move(command));
}

void* ApplicationShell::application() const {
    return impl_->application;
}

int ApplicationShell::run(int argc, char** argv, const std::string& version, std::function<bool()> startup,
                          std::function<void()> activate) {
    impl_->version = version;
    impl_->startup = std::move(startup);
    impl_->activate = std::move(activate);
    const int status = g_application_run(G_APPLICATION(impl_->application), argc, argv);
    return impl_->refused ? 1 : status;
}

}  // namespace pelko
