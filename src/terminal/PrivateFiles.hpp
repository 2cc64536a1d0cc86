#pragma once
// Helpers for the terminal's private files (log and dumps hold typed input): folders are created
// 0700 and files 0600; appends open, write and close, never holding a descriptor.
#include <filesystem>
#include <string_view>

namespace pelko::privatefiles {

// Creates the folder and missing parents with mode 0700. True when it exists as a folder afterwards.
bool ensureFolder(const std::filesystem::path& folder);
// Appends to the file, creating it 0600 when missing. False on any failure.
bool append(const std::filesystem::path& file, std::string_view bytes);
// The descriptor of the file opened for appending (created 0600 when missing), or -1.
int openForAppend(const std::filesystem::path& file);
// Writes every byte, retrying on interruption.
bool writeAll(int fd, std::string_view bytes);

}  // namespace pelko::privatefiles
