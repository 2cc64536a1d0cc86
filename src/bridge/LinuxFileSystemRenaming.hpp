#pragma once
// LinuxFileSystemRenaming: FileSystemRenaming over lstat and renameat2(RENAME_NOREPLACE). Stateless;
// safe to share between threads.
#include "bridge/FileSystemRenaming.hpp"

namespace pelko {

class LinuxFileSystemRenaming final : public FileSystemRenaming {
  public:
    std::optional<FileIdentity> itemIdentity(const std::filesystem::path& path) const override;
    std::error_code moveItemNoReplace(const std::filesystem::path& from,
                                      const std::filesystem::path& to) override;
};

}  // namespace pelko
