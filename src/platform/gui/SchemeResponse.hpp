#pragma once
// SchemeResponse: the complete answer to one request of a custom URI scheme, built by the
// application's scheme handler and delivered by the web host in one piece.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pelko {

struct SchemeResponse {
    enum class Kind { file, notFound, failed };
    Kind kind = Kind::notFound;
    int statusCode = 404;
    std::string mimeType;
    // "utf-8" for text MIME types; absent otherwise.
    std::optional<std::string> textEncoding;
    // Header fields the answer carries (the not-found answer's).
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // For `failed`: what went wrong (a bad URL or the read error).
    std::string errorMessage;
};

}  // namespace pelko
