#pragma once
// TerminalDebugDumpWriter: binds one session to the debug-dump store while dumps are on. `record` is
// called from the session's output reader and returns at once (the store writes on its queue).
#include <memory>
#include <span>

#include "platform/Uuid.hpp"
#include "terminal/TerminalDebugDumpStore.hpp"

namespace pelko {

// Binds one session to the store while dumps are on.
class TerminalDebugDumpWriter {
  public:
    // Null when the store cannot prepare its folder for writing (waits for the store's queue).
    static std::shared_ptr<TerminalDebugDumpWriter> create(std::shared_ptr<TerminalDebugDumpStore> store,
                                                           const Uuid& sessionID);
    void record(std::span<const std::uint8_t> raw, std::span<const std::uint8_t> normalized) const;

  private:
    TerminalDebugDumpWriter(std::shared_ptr<TerminalDebugDumpStore> store, const Uuid& sessionID)
        : sessionID_(sessionID), store_(std::move(store)) {}
    Uuid sessionID_;
    std::shared_ptr<TerminalDebugDumpStore> store_;
};

}  // namespace pelko
