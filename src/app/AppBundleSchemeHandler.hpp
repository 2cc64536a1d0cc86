#pragma once
// AppBundleSchemeHandler: answers requests of the private "app" scheme from one folder, the folder
// that holds the page's index file. Only the request's path counts (scheme, host, query and fragment
// play no part); the path is used in its percent-encoded form. A file is served only when its
// normalised path lies inside the base folder; anything else is 404 "Not found".
//
// Stateless after construction and safe from any thread; the web host calls it on the main thread
// and answers each request completely from the returned value. Nothing is cached or logged.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/gui/SchemeResponse.hpp"

namespace pelko {

class AppBundleSchemeHandler {
  public:
    explicit AppBundleSchemeHandler(const std::filesystem::path& baseFolder);

    const std::filesystem::path& baseFolder() const { return baseFolder_; }

    SchemeResponse respond(std::string_view uri) const;
    // The file to serve for a request URI, one that exists inside the base folder, or nothing.
    std::optional<std::filesystem::path> resolvedFilePath(std::string_view uri) const;
    // MIME type by extension (with or without the dot, any case).
    static std::string mimeType(std::string_view extension);
    static SchemeResponse notFound();

  private:
    bool accepts(const std::filesystem::path& candidate) const;
    std::filesystem::path baseFolder_;
};

}  // namespace pelko
