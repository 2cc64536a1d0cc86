#pragma once
// FileSystemRenaming: the two file-system calls a rename depends on, behind one seam so that the
// behaviour of a case-insensitive volume can be tested on a case-sensitive one.
//
// Synchronous and stateless; called on the bridge's file queue only. Both calls work on one name
// inside an open folder (a descriptor the project's walk yielded), never on a path, so a folder
// swapped for a link meanwhile cannot redirect them. `itemIdentity` never follows a final symbolic
// link (the link itself is what gets renamed). `moveItemNoReplace` never overwrites: when something
// exists at `to` when the move happens, it fails with EEXIST and changes nothing.
#include <sys/types.h>

#include <optional>
#include <string>
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

    // The identity of whatever `name` in `folder` refers to, or nullopt when nothing exists there.
    virtual std::optional<FileIdentity> itemIdentity(int folder, const std::string& name) const = 0;
    // Moves `from` to `to` within `folder` atomically, failing with EEXIST rather than replacing an
    // existing item.
    virtual std::error_code moveItemNoReplace(int folder, const std::string& from, const std::string& to) = 0;
};

}  // namespace pelko
