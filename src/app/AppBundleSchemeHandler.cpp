#include "app/AppBundleSchemeHandler.hpp"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <system_error>

#include "platform/AtomicFile.hpp"

namespace fs = std::filesystem;

namespace pelko {
namespace {

// The path of a URI exactly as written (escapes kept), or nothing when the URI does not split.
std::optional<std::string> encodedPath(std::string_view uri) {
    std::string text(uri);
    gchar* path = nullptr;
    GError* error = nullptr;
    if (!g_uri_split(text.c_str(), G_URI_FLAGS_ENCODED, nullptr, nullptr, nullptr, nullptr, &path, nullptr,
                     nullptr, &error)) {
        g_clear_error(&error);
        return std::nullopt;
    }
    std::string result = path ? path : "";
    g_free(path);
    return result;
}

std::string trimSlashes(const std::string& path) {
    auto first = path.find_first_not_of('/');
    if (first == std::string::npos) return {};
    auto last = path.find_last_not_of('/');
    return path.substr(first, last - first + 1);
}

std::string withoutTrailingSeparator(const fs::path& path) {
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

}  // namespace

AppBundleSchemeHandler::AppBundleSchemeHandler(const fs::path& baseFolder)
    : baseFolder_(fs::path(withoutTrailingSeparator(baseFolder.lexically_normal()))) {}

bool AppBundleSchemeHandler::accepts(const fs::path& candidate) const {
    const std::string base = baseFolder_.string();
    const std::string text = withoutTrailingSeparator(candidate);
    bool inside = text == base || (text.size() > base.size() && text.compare(0, base.size(), base) == 0 &&
                                   text[base.size()] == '/');
    if (!inside) return false;
    std::error_code ec;
    return fs::exists(candidate, ec);
}

std::optional<fs::path> AppBundleSchemeHandler::resolvedFilePath(std::string_view uri) const {
    auto path = encodedPath(uri);
    if (!path) return std::nullopt;
    std::string relative = trimSlashes(*path);
    if (relative.empty()) relative = "index.html";

    fs::path first = (baseFolder_ / relative).lexically_normal();
    if (accepts(first)) return first;

    // A page may name an asset in a folder that the build flattened: try the last component alone.
    auto slash = relative.find_last_of('/');
    std::string last = slash == std::string::npos ? relative : relative.substr(slash + 1);
    fs::path second = (baseFolder_ / last).lexically_normal();
    if (accepts(second)) return second;
    return std::nullopt;
}

std::string AppBundleSchemeHandler::mimeType(std::string_view extension) {
    std::string ext(extension);
    if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == "html") return "text/html";
    if (ext == "js") return "application/javascript";
    if (ext == "css") return "text/css";
    if (ext == "svg") return "image/svg+xml";
    if (ext == "json") return "application/json";
    if (ext == "png") return "image/png";
    if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
    if (ext == "woff") return "font/woff";
    if (ext == "woff2") return "font/woff2";
    return "application/octet-stream";
}

SchemeResponse AppBundleSchemeHandler::notFound() {
    SchemeResponse response;
    response.kind = SchemeResponse::Kind::notFound;
    response.statusCode = 404;
    response.mimeType = "text/plain";
    response.textEncoding = "utf-8";
    response.body = "Not found";
    response.headers = {{"Content-Type", "text/plain; charset=utf-8"},
                        {"Content-Length", std::to_string(response.body.size())}};
    return response;
}

SchemeResponse AppBundleSchemeHandler::respond(std::string_view uri) const {
    if (uri.empty()) {
        SchemeResponse failed;
        failed.kind = SchemeResponse::Kind::failed;
        failed.errorMessage = "bad URL";
        return failed;
    }
    auto file = resolvedFilePath(uri);
    if (!file) return notFound();

    SchemeResponse response;
    if (auto error = readWholeFile(*file, response.body)) {
        SchemeResponse failed;
        failed.kind = SchemeResponse::Kind::failed;
        failed.errorMessage = error.message();
        return failed;
    }
    response.kind = SchemeResponse::Kind::file;
    response.statusCode = 200;
    response.mimeType = mimeType(file->extension().string());
    if (response.mimeType.rfind("text", 0) == 0) response.textEncoding = "utf-8";
    return response;
}

}  // namespace pelko
