#include "platform/gui/Dialogs.hpp"

#include <gtk/gtk.h>

namespace pelko {
namespace {

// GtkFileDialog and GtkAlertDialog arrive in GTK 4.10; 4.8 has the older types.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS

struct ChooserState {
    GtkFileChooserNative* chooser;
    std::function<void(std::vector<std::filesystem::path>)> completion;
};

void onChooserResponse(GtkNativeDialog* dialog, int response, gpointer data) {
    auto* state = static_cast<ChooserState*>(data);
    std::vector<std::filesystem::path> folders;
    if (response == GTK_RESPONSE_ACCEPT) {
        GListModel* files = gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog));
        const guint count = g_list_model_get_n_items(files);
        for (guint i = 0; i < count; ++i) {
            auto* file = static_cast<GFile*>(g_list_model_get_item(files, i));
            if (char* path = g_file_get_path(file)) {
                folders.emplace_back(path);
                g_free(path);
            }
            g_object_unref(file);
        }
        g_object_unref(files);
    }
    auto completion = std::move(state->completion);
    g_object_unref(state->chooser);
    delete state;
    completion(std::move(folders));
}

}  // namespace

void Dialogs::showMessage(void* parent, const std::string& title, const std::string& detail) {
    GtkWidget* dialog = gtk_message_dialog_new(parent ? GTK_WINDOW(parent) : nullptr, GTK_DIALOG_MODAL,
                                               GTK_MESSAGE_INFO, GTK_BUTTONS_OK, "%s", title.c_str());
    if (!detail.empty())
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", detail.c_str());
    g_signal_connect(dialog, "response", G_CALLBACK(gtk_window_destroy), nullptr);
    gtk_window_present(GTK_WINDOW(dialog));
}

void Dialogs::chooseFolders(void* parent, const std::string& title, const std::string& acceptLabel,
                            std::function<void(std::vector<std::filesystem::path>)> completion) {
    GtkFileChooserNative* chooser =
        gtk_file_chooser_native_new(title.c_str(), parent ? GTK_WINDOW(parent) : nullptr,
                                    GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, acceptLabel.c_str(), nullptr);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser), TRUE);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
    auto* state = new ChooserState{chooser, std::move(completion)};
    g_signal_connect(chooser, "response", G_CALLBACK(onChooserResponse), state);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
}

G_GNUC_END_IGNORE_DEPRECATIONS

}  // namespace pelko
