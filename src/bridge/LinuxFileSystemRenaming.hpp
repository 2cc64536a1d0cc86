#pragma once
// LinuxFileSystemRenaming: FileSystemRenaming over fstatat and renameat2(RENAME_NOREPLACE). Stateless;
// safe to share between threads.
#include "bridge/FileSystemRenaming.hpp"

namespace pelko {

class LinuxFileSystemRenaming final : public FileSystemRenaming {
  public:
    std::optional<FileIdentity> itemIdentity(int folder, const std::string& name) const override;
    std::error_code moveItemNoReplace(int folder, const std::string& from, const std::string& to) override;
};

}  // namespace pelko
