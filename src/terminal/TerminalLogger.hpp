#pragma once
// TerminalLogger: the JSON-lines file of what happens in terminal sessions (spawns, output and input
// chunks, resizes, signals, exits, errors), the terminal subsystem's only diagnostic record.
//
// `record` may be called from any thread; it copies the event and returns at once, except that a
// caller other than the main thread waits while `maxPendingChunkBytes` of chunks await writing, so a
// streaming session's reader is held back by a slow disk instead of piling copies up in memory. Lines are
// formatted and written on the serial queue "app.pelko.terminal.logger" in the order of the `record`
// calls, one whole line each, in batches a few milliseconds after they were recorded; destroying the
// logger writes what is still waiting. The file holds typed input, so it is created 0600 and its folder, when
// created here, 0700. When the file grows past `maxFileSize` it is moved to "<name>.1" (one backup).
// Nothing is ever reported: a line that cannot be written is lost and later lines are tried afresh.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "terminal/TerminalLogEvent.hpp"

namespace pelko {

class SerialQueue;

class TerminalLogger {
  public:
    static constexpr std::uint64_t defaultMaxFileSize = std::uint64_t{10} * 1024 * 1024;
    static constexpr std::size_t maxPendingChunkBytes = std::size_t{4} * 1024 * 1024;

    // Without a file: "pelko-terminal.log" in the caches folder's "pelko" folder (the temporary
    // folder's when there is no caches folder), whose folder is created when missing.
    explicit TerminalLogger(std::optional<std::filesystem::path> fileURL = std::nullopt,
                            std::uint64_t maxFileSize = defaultMaxFileSize);
    ~TerminalLogger();
    TerminalLogger(const TerminalLogger&) = delete;
    TerminalLogger& operator=(const TerminalLogger&) = delete;

    static std::filesystem::path defaultLocation();

    const std::filesystem::path& fileURL() const { return fileURL_; }
    void record(TerminalLogEvent event);
    // Writes every line recorded so far, waiting for the queue.
    void flush();
    // Bytes of chunks recorded and not yet written.
    std::size_t pendingChunkBytes() const;

  private:
    void writePending();
    static std::optional<std::string> formatLine(const TerminalLogEvent& event);

    std::filesystem::path fileURL_;
    std::uint64_t maxFileSize_;
    // Events waiting for the queue; one queued job writes them all, so a busy output reader pays no
    // wake-up per chunk.
    mutable std::mutex pendingMutex_;
    std::condition_variable written_;
    std::vector<TerminalLogEvent> pending_;
    std::size_t pendingChunkBytes_ = 0;  // in `pending_` and in the batch being written
    std::shared_ptr<SerialQueue> queue_;
};

}  // namespace pelko
