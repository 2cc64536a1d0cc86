#pragma once
// TerminalDebugDumpStore: a folder of JSON-lines files recording each chunk of terminal output twice,
// as read and as normalised, one series of files per session ("<session>.jsonl", ".1.jsonl",
// ".2.jsonl"), kept within a TerminalDebugDumpPolicy (file size, files per session, age, folder size).
//
// All file work and all state live on the serial queue "app.pelko.terminal.debugdump.store".
// `record` returns at once (a store released meanwhile writes nothing); `performStartupMaintenance`
// and `prepareForWriting` wait for the queue. Nothing is reported: a chunk that cannot be written is
// dropped. The dumps hold typed input: the folder is created 0700 and files 0600; a folder that is a
// symbolic link is refused.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "platform/Date.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

class SerialQueue;

struct TerminalDebugDumpPolicy {
    std::uint64_t maxFileSizeBytes = 32ull * 1024 * 1024;
    int maxFilesPerSession = 3;
    std::uint64_t maxDirectorySizeBytes = 512ull * 1024 * 1024;
    double retentionInterval = 604800;  // seconds
};

class TerminalDebugDumpStore : public std::enable_shared_from_this<TerminalDebugDumpStore> {
  public:
    using Clock = std::function<Date()>;

    struct DumpFile {
        std::filesystem::path url;
        std::uint64_t size = 0;
        Date modifiedAt;
    };

    TerminalDebugDumpStore(const std::filesystem::path& directory, TerminalDebugDumpPolicy policy = {},
                           Clock clock = &Date::now);
    // "terminal-dumps" in the caches folder's "pelko" folder; null when there is no caches folder.
    static std::shared_ptr<TerminalDebugDumpStore> makeDefault();
    ~TerminalDebugDumpStore();
    TerminalDebugDumpStore(const TerminalDebugDumpStore&) = delete;
    TerminalDebugDumpStore& operator=(const TerminalDebugDumpStore&) = delete;

    const std::filesystem::path& directory() const { return directory_; }
    // Maintenance of an existing folder (never creates it); waits for the queue.
    void performStartupMaintenance();
    // Creates the folder when missing and runs maintenance; false when the folder is not usable.
    bool prepareForWriting();
    void record(const Uuid& sessionID, std::span<const std::uint8_t> raw,
                std::span<const std::uint8_t> normalized);
    // Tests: waits until every chunk recorded so far has been handled.
    void flush();

    // The generation encoded in a dump file's name, if it is one.
    static std::optional<int> generation(const std::filesystem::path& file);

  private:
    bool validateDirectoryLocked(bool createIfNeeded);
    bool maintainLocked(bool createIfNeeded);
    void cleanLocked();
    void writeLocked(const Uuid& sessionID, const std::vector<std::uint8_t>& raw,
                     const std::vector<std::uint8_t>& normalized);
    std::uint64_t sizeOfFileLocked(const std::filesystem::path& file) const;
    void rotateLocked(const Uuid& sessionID);
    std::vector<DumpFile> dumpFilesLocked() const;
    void removeFileLocked(const std::filesystem::path& file);
    void pruneDirectoryLocked(std::uint64_t reserving, const std::optional<std::filesystem::path>& excluding);
    void recountLocked();
    std::filesystem::path fileFor(const Uuid& sessionID, int generation) const;

    std::filesystem::path directory_;
    TerminalDebugDumpPolicy policy_;
    Clock clock_;
    std::unordered_map<Uuid, std::int64_t> sequenceBySession_;
    std::uint64_t totalSizeBytes_ = 0;
    bool isPrepared_ = false;
    std::shared_ptr<SerialQueue> queue_;
};

}  // namespace pelko
