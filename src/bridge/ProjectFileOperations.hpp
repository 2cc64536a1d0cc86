#pragma once
// ProjectFileOperations: the file work behind the page's "project/file/open", "project/file/save" and
// "project/file/rename" requests, and the path rules every page-supplied project path goes through.
//
// Synchronous, no threads and no state of its own besides the rename seam: the
// bridge resolves the project root on the main thread (`projectRoot`), runs `readFile`, `saveFile`
// and `renameItem` one at a time on its serial file queue, and delivers the returned events, in the
// returned order, on the main thread. Every operation answers with events and never throws; nothing
// is logged. A page path never leaves its project: it is normalised by ProjectPath, then every read,
// save (its temporary file included) and rename works on descriptors that a walk beneath an open
// descriptor of the root yielded (ProjectDirectory), so no folder swapped for a link meanwhile leads
// outside, and "outside" is answered before "missing". Only regular files are
// read (a FIFO or device is never opened for reading), saves are atomic and keep the file's mode, and
// a rename never replaces an item that appears at its destination.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/FileSystemRenaming.hpp"
#include "platform/Json.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

// One event for the page: its type and its payload object.
struct BridgeEvent {
    std::string type;
    Json payload;
};

struct RenameOutcome {
    // On success: "project/file/renamed", then "project/explorer/changed" for the item's folder.
    // On failure: one "project/file/error" with a "rename_..." code.
    std::vector<BridgeEvent> events;
    // True when the events report success; the caller then asks the Git service to refresh the
    // project's status after sending them.
    bool renamed = false;
};

class ProjectFileOperations {
  public:
    static constexpr std::int64_t softLimitBytes = 31457280;   // asks the page to confirm above this
    static constexpr std::int64_t hardLimitBytes = 314572800;  // never read above this

    explicit ProjectFileOperations(std::shared_ptr<FileSystemRenaming> renaming);
    // Renames through LinuxFileSystemRenaming.
    ProjectFileOperations();

    // The project's root folder (ProjectMetadata::resolveRootFolder); nullopt unless it names an
    // existing folder (a file, a missing folder or a broken link gives nullopt).
    std::optional<std::filesystem::path> projectRoot(const std::string& rootPath) const;

    // The page's path as a path relative to the project root (ProjectPath::normalize: a leading "/"
    // names the root, ".." may not climb above it, "~", NUL and climbing are refused). "" names the
    // root itself.
    static std::optional<std::string> sanitize(std::string_view relativePath);

    // "image/png" and friends by the lower-cased extension; nullopt means the file is text.
    static std::optional<std::string> imageMimeType(const std::filesystem::path& path);

    // The message for a file above `maxBytes`, sizes in MB as the page shows them.
    static std::string tooLargeMessage(std::int64_t fileSize, std::int64_t maxBytes);

    // "project/file/content", "project/file/confirm" or "project/file/error" (no code). `path` in the
    // reply is `relativePath` exactly as given.
    BridgeEvent readFile(const Uuid& projectId, const std::filesystem::path& root,
                         const std::string& relativePath, bool allowLargeFile) const;

    // "project/file/saved" or "project/file/error" (no code). Writes UTF-8 bytes atomically; never
    // creates folders.
    BridgeEvent saveFile(const Uuid& projectId, const std::filesystem::path& root,
                         const std::string& relativePath, std::string_view content) const;

    // Renames the last component of `fromPath` to the last component of `toPath` in the same folder.
    // The page's entity type hint is not used: the reply's type comes from the file system.
    RenameOutcome renameItem(const Uuid& projectId, const std::filesystem::path& root,
                             const std::string& fromPath, const std::string& toPath) const;

    // The answer to a read whose content is more than the page can be sent within the size limits: a
    // file mostly of control bytes, each of which grows to a seven-byte escape in the event's script.
    static BridgeEvent readTooLargeToSend(const Uuid& projectId, const std::string& path);

    // Early answers for a project without a usable root, sent without touching the file queue.
    static BridgeEvent readProjectMissing(const Uuid& projectId, const std::string& path);
    static BridgeEvent saveProjectMissing(const Uuid& projectId, const std::string& path);
    static BridgeEvent renameProjectMissing(const Uuid& projectId, const std::string& path);

  private:
    std::shared_ptr<FileSystemRenaming> renaming_;
};

}  // namespace pelko
