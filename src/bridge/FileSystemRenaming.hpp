#pragma once
// FileSystemRenaming: the two file-system calls a rename depends on, behind one seam so that the
// behaviour of a case-insensitive volume can be tested on a case-sensitive one.
//
// Synchronous and stateless; called on the bridge's file queue only. `itemIdentity` never follows a
// final symbolic link (the link itself is what gets renamed). `moveItemNoReplace` never overwrites:
// when something exists at `to` when the move happens, it fails with EEXIST and changes nothing.
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <system_error>

namespace pelko {

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

class FileSystemRenaming {
  public:
    virtual ~FileSystemRenaming() = default;

    // The identity of whatever the name refers to, or nullopt when nothing exists there.
    virtual std::optional<FileIdentity> itemIdentity(const std::filesystem::path& path) const = 0;
    // Moves `from` to `to` atomically, failing with EEXIST rather than replacing an existing item.
    virtual std::error_code moveItemNoReplace(const std::filesystem::path& from,
                                              const std::filesystem::path& to) = 0;
};

}  // namespace pelko
