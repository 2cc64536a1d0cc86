#pragma once
// Atomic file writes: a temporary file in the same folder, write, fsync, rename over the target,
// fsync of the folder. A crash leaves either the old or the new content, never a torn file. The
// temporary file is removed on any failure; its name, "." + the target's name + ".tmp-" and six
// random characters, is shortened so that it fits NAME_MAX whatever the target's name.
//
// A new target is made as any program makes a file, with `newFileMode`: the kernel applies the
// umask, or the folder's default ACL, and nothing changes the mode afterwards. A replaced target
// keeps its access: the temporary file is 0600 from the moment it is made, so a crash leaves nothing
// readable by others, and once its content is complete it takes the target's access ACL (or none)
// and mode before it is synced and renamed; a set-id bit stays only where the file's owner (or
// group) is still the replaced file's. An ACL that cannot be read or carried over fails the
// write and leaves the target as it was; a file system that keeps no ACLs had none to keep, and one
// that keeps no modes (exFAT, FAT) decides the mode itself. Parent folders are created (mode 0700
// when `privateFolder`, else 0755).
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace pelko {

struct AtomicWriteOptions {
    mode_t newFileMode = 0666;
    bool createParents = true;
    bool privateFolder = false;
};

std::error_code writeFileAtomically(const std::filesystem::path& target, std::string_view contents,
                                    const AtomicWriteOptions& options = {});

// The same beneath an open folder: `name` is one name in `folder` (a descriptor, O_PATH will do) and
// is replaced as it is, never followed when it is a link. Parents are never created.
std::error_code writeFileAtomicallyAt(int folder, const std::string& name, std::string_view contents,
                                      const AtomicWriteOptions& options = {});

// Removes the temporary files that writes of `targetName` in `folder` left behind when the process
// died midway, if they are older than `minimumAge` (so a write in flight elsewhere keeps its own; a
// minute is far longer than any write takes). Returns how many were removed.
std::size_t removeStaleTemporaries(const std::filesystem::path& folder, const std::string& targetName,
                                   std::chrono::seconds minimumAge = std::chrono::seconds(60));

// Moves `file`, which could not be read, aside before a write replaces it: to "<name>.corrupt-" and the
// UTC time ("config.json.corrupt-20261209T044500Z") beside it, with "-2", "-3", ... added while that
// name is taken. Nothing that exists is ever replaced, so each unreadable file keeps its own copy.
// `keptAs` is where it went; it is empty, and the call succeeds, when `file` is gone: nothing is left
// to keep.
std::error_code keepUnreadableFile(const std::filesystem::path& file, std::filesystem::path& keptAs);

// Reads a whole regular file; nullopt-like error when it is missing or cannot be read.
std::error_code readWholeFile(const std::filesystem::path& path, std::string& contents);

}  // namespace pelko
