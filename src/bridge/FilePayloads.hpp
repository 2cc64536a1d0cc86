#pragma once
// Records sent to the page in answer to the page's file requests (open, save, rename); the explorer's
// change notice that follows a rename is ExplorerChangedPayload of BridgePayloads.hpp. Plain values: each
// `toJson()` writes its keys in field order, leaves absent optionals out (never null) and writes project
// identifiers as upper-case UUID text.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Json.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

// "project/file/content": text as it is, or an image as base64 with `encoding` "base64".
struct FileContentPayload {
    Uuid projectId;
    std::string path;
    std::string content;
    std::optional<std::string> encoding;
    std::optional<std::string> mimeType;
    Json toJson() const&;
    // Moves the content into the JSON value: a whole file is never copied.
    Json toJson() &&;
};

// "project/file/confirm": the file is above the soft limit and the page did not allow large files.
struct FileConfirmationPayload {
    Uuid projectId;
    std::string path;
    std::int64_t sizeBytes = 0;
    std::int64_t softLimitBytes = 0;
    std::int64_t hardLimitBytes = 0;
    Json toJson() const;
};

// "project/file/error": reads and saves carry no code; renames always carry a "rename_..." code.
struct FileErrorPayload {
    Uuid projectId;
    std::string path;
    std::string message;
    std::optional<std::string> code;
    Json toJson() const;
};

// "project/file/saved".
struct FileSavedPayload {
    Uuid projectId;
    std::string path;
    Json toJson() const;
};

// "project/file/renamed": `entityType` is "folder" for a directory, else "file".
struct FileRenamedPayload {
    Uuid projectId;
    std::string path;
    std::string nextPath;
    std::string entityType;
    Json toJson() const;
};

}  // namespace pelko
