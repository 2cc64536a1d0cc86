#pragma once
// Dialogs: the application's two native dialogs, a message box and the folder chooser.
//
// Main thread only. Both return at once; the folder chooser calls its completion exactly once, on
// the main thread, with the chosen folders in the chooser's order (empty when cancelled).
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace pelko {

struct Dialogs {
    // A modal message over `parent` (a GtkWindow*, may be null) with one button to close it.
    static void showMessage(void* parent, const std::string& title, const std::string& detail);

    static void chooseFolders(void* parent, const std::string& title, const std::string& acceptLabel,
                              std::function<void(std::vector<std::filesystem::path>)> completion);
};

}  // namespace pelko
