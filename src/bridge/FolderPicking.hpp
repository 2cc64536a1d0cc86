#pragma once
// FolderPicking: the native chooser with which the user picks project folders ("project/open").
//
// Main thread only. `pickFolders` returns at once; the chooser allows several folders and no files,
// shows the prompt "Open" and the message "プロジェクトのルートフォルダを選択してください", and
// calls `completion` exactly once on the main thread with the chosen folders in the chooser's order
// (empty when the user cancelled or chose nothing). The bridge holds the picker strongly.
#include <filesystem>
#include <functional>
#include <vector>

namespace pelko {

class FolderPicking {
  public:
    using Completion = std::function<void(std::vector<std::filesystem::path> folders)>;

    virtual ~FolderPicking() = default;
    virtual void pickFolders(Completion completion) = 0;
};

}  // namespace pelko
