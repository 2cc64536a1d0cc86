#include "platform/gui/ApplicationShell.hpp"

#include <gtk/gtk.h>

namespace pelko {

struct ApplicationShell::Impl {
    GtkApplication* application = nullptr;
    std::vector<Command> commands;
    std::function<void()> activate;
    bool activated = false;
};

namespace {

using Impl = ApplicationShell::Impl;

void onAction(GSimpleAction*, GVariant*, gpointer data) {
    auto* handler = static_cast<std::function<void()>*>(data);
    if (*handler) (*handler)();
}

void onStartup(GApplication* app, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
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
    if (impl->activated) return;
    impl->activated = true;
    if (impl->activate) impl->activate();
}

}  // namespace

ApplicationShell::ApplicationShell(const std::string& applicationId) : impl_(std::make_unique<Impl>()) {
    impl_->application = gtk_application_new(applicationId.c_str(), G_APPLICATION_NON_UNIQUE);
    g_signal_connect(impl_->application, "startup", G_CALLBACK(onStartup), impl_.get());
    g_signal_connect(impl_->application, "activate", G_CALLBACK(onActivate), impl_.get());
}

ApplicationShell::~ApplicationShell() {
    g_signal_handlers_disconnect_by_data(impl_->application, impl_.get());
    g_object_unref(impl_->application);
}

void ApplicationShell::addCommand(Command command) {
    impl_->commands.push_back(std::move(command));
}

void* ApplicationShell::application() const {
    return impl_->application;
}

int ApplicationShell::run(int argc, char** argv, std::function<void()> activate) {
    impl_->activate = std::move(activate);
    return g_application_run(G_APPLICATION(impl_->application), argc, argv);
}

}  // namespace pelko
