#include "app/FileChooserFolderPicker.hpp"

#include "platform/gui/Dialogs.hpp"

namespace pelko {

FileChooserFolderPicker::FileChooserFolderPicker(std::function<void*()> parentWindow)
    : parentWindow_(std::move(parentWindow)) {}

void FileChooserFolderPicker::pickFolders(Completion completion) {
    Dialogs::chooseFolders(parentWindow_ ? parentWindow_() : nullptr, message, prompt, std::move(completion));
}

}  // namespace pelko
