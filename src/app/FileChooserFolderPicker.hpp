#pragma once
// FileChooserFolderPicker: the folder chooser behind "project/open", the system's file chooser in
// folder mode allowing several folders. Main thread only; the completion runs exactly once.
#include <functional>

#include "bridge/FolderPicking.hpp"

namespace pelko {

class FileChooserFolderPicker final : public FolderPicking {
  public:
    static constexpr const char* message = "プロジェクトのルートフォルダを選択してください";
    static constexpr const char* prompt = "Open";

    // `parentWindow` gives the GtkWindow* to show the chooser over, or null.
    explicit FileChooserFolderPicker(std::function<void*()> parentWindow);
    void pickFolders(Completion completion) override;

  private:
    std::function<void*()> parentWindow_;
};

}  // namespace pelko
