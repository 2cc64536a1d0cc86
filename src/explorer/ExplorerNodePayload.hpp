#pragma once
// ExplorerNodePayload: one child of a listed folder, as sent to the page.
//
// JSON keys in order: "name", "path", "type" ("folder" or "file"), "children" (left out when absent;
// listings never fill it). Names are kept as the file system gives them, bytes and all: a name that is
// not valid UTF-8 is replaced with U+FFFD only when the JSON text is encoded (json::encode).
#include <optional>
#include <string>
#include <vector>

#include "platform/Json.hpp"

namespace pelko {

struct ExplorerNodePayload {
    enum class Type { folder, file };

    std::string name;
    std::string path;
    Type type = Type::file;
    std::optional<std::vector<ExplorerNodePayload>> children;

    Json toJson() const;
    // Strict: a missing or mistyped key, or an unknown type, throws DecodeError.
    static ExplorerNodePayload fromJson(const Json& object);

    friend bool operator==(const ExplorerNodePayload&, const ExplorerNodePayload&) = default;
};

}  // namespace pelko
