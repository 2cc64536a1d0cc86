#pragma once
// Atomic file writes: a temporary file in the same folder, write, fsync, rename over the target,
// fsync of the folder. A crash leaves either the old or the new content, never a torn file. The
// temporary file is removed on any failure. An existing target keeps its mode; a new one gets
// `newFileMode`. Parent folders are created (mode 0700 when `privateFolder`, else 0755).
#include <sys/types.h>

#include <filesystem>
#include <string_view>
#include <system_error>

namespace pelko {

struct AtomicWriteOptions {
    mode_t newFileMode = 0644;
    bool createParents = true;
    bool privateFolder = false;
};

std::error_code writeFileAtomically(const std::filesystem::path& target, std::string_view contents,
                                    const AtomicWriteOptions& options = {});

// Reads a whole regular file; nullopt-like error when it is missing or cannot be read.
std::error_code readWholeFile(const std::filesystem::path& path, std::string& contents);

}  // namespace pelko
