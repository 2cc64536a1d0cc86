#include "terminal/TerminalDebugDumpWriter.hpp"

namespace pelko {

std::shared_ptr<TerminalDebugDumpWriter> TerminalDebugDumpWriter::create(
    std::shared_ptr<TerminalDebugDumpStore> store, const Uuid& sessionID) {
    if (!store || !store->prepareForWriting()) return nullptr;
    return std::shared_ptr<TerminalDebugDumpWriter>(new TerminalDebugDumpWriter(std::move(store), sessionID));
}

void TerminalDebugDumpWriter::record(std::span<const std::uint8_t> raw,
                                     std::span<const std::uint8_t> normalized) const {
    store_->record(sessionID_, raw, normalized);
}

}  // namespace pelko
