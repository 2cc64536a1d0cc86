#pragma once
// ProjectDirectory: an open descriptor of a project's root folder, and the walk that finds an item
// beneath it.
//
// Every step of the walk opens one name beneath the descriptor that the previous step yielded
// (openat2 with RESOLVE_BENEATH, O_PATH and O_NOFOLLOW), so a folder swapped for a symbolic link
// while the walk runs can never lead it outside: the walk reads links itself and follows them only
// while they stay inside (".." in a link never climbs above the root; an absolute link must name a
// place under the root's own path). Containment is answered before existence: a link leading out
// refuses the path whatever follows it. Callers then work with *at calls on the folder descriptor
// and the item's name the walk yields, never by path. Stateless after `open`; one object may be used
// from several threads.
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/UniqueFd.hpp"

namespace pelko {

struct ResolveError {
    enum class Code { outside, notFound, failed };
    Code code = Code::failed;
    int systemError = 0;  // the failed call's errno, for `failed` and `notFound`

    // "outside", or "notFound (systemError: 2)".
    std::string description() const;
};

class ProjectDirectory {
  public:
    enum class FinalLink {
        follow,  // a link as the last component is followed (reads, saves, listings)
        keep,    // the link itself is the item (renames)
    };

    struct Entry {
        UniqueFd folder;                    // O_PATH descriptor of the folder that holds the item
        std::string name;                   // the item's name in `folder`; "." for that folder itself
        std::string relativePath;           // where the item is, links resolved; "" for the root
        std::optional<struct stat> status;  // the item's own status (lstat); nullopt when it is missing
    };

    // Opens the root folder. Links in the root's own path are followed: the root is the user's choice.
    // nullopt with `systemError` set when it cannot be opened as a folder.
    static std::optional<ProjectDirectory> open(const std::filesystem::path& root,
                                                int* systemError = nullptr);

    // Resolves a path normalised by ProjectPath ("" for the root). The last component may be missing
    // (status nullopt) when its folder exists; a missing folder on the way answers `notFound`, a link
    // leading out answers `outside`.
    std::optional<Entry> resolve(std::string_view relativePath, FinalLink finalLink,
                                 ResolveError& error) const;

    // Opens an entry's item for reading (O_NOFOLLOW: an item swapped for a link since the walk is
    // refused with ELOOP). -1 with errno set on failure.
    static UniqueFd openItem(const Entry& entry, int flags);
    // A real descriptor (not O_PATH) of the entry's folder, for fsync and directory listing of it.
    static UniqueFd openFolder(const Entry& entry);
    // Appends what `fd` holds to `bytes` until `bytes` holds `limit` bytes or the item ends; false on a
    // read error.
    static bool readUpTo(int fd, std::size_t limit, std::string& bytes);

    int fd() const { return root_.get(); }

  private:
    ProjectDirectory(UniqueFd root, std::string givenPath, std::string realPath);
    std::optional<std::string> insideRoot(std::string_view absoluteLink) const;

    UniqueFd root_;
    std::string givenPath_;
    std::string realPath_;
};

}  // namespace pelko
