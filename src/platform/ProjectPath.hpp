#pragma once
// ProjectPath: the one spelling rule for paths that name something inside a project, and the lexical
// helpers for the absolute paths of project roots.
//
// Pure string work on bytes, callable on any thread; nothing here touches the file system (resolving
// a normalised path beneath the project's root is ProjectDirectory's work). Names are bytes: they
// need not be valid UTF-8, and two spellings of one accented letter are two names.
#include <optional>
#include <string>
#include <string_view>

namespace pelko {

class ProjectPath {
  public:
    enum class LeadingSlash {
        rootRelative,  // "/src/a.txt" names the project's "src/a.txt"
        refused,       // "/etc" is refused
    };

    // A page's path as a path relative to the project root: components joined by "/", without empty,
    // "." or ".." components and without a leading or trailing "/"; "" names the root itself. ".."
    // takes back the component before it. Refused (nullopt) when the text holds a NUL, is "~" or
    // starts with "~/" (the home folder is no part of a project), starts with "/" under
    // `LeadingSlash::refused`, or climbs above the root.
    static std::optional<std::string> normalize(std::string_view pagePath,
                                                LeadingSlash leadingSlash = LeadingSlash::rootRelative);

    // True when the text names the root without going through "..": "", "/", ".", "./." and the
    // like. Operations that need an item refuse these as an invalid path; "src/.." names the root as
    // an item (a folder).
    static bool namesNoItem(std::string_view pagePath);

    // Lexical standard form of any path: empty and "." components dropped, ".." takes back the
    // component before it (kept at the start of a relative path, dropped at "/"), no trailing "/";
    // "." for an empty relative result. Does not expand "~".
    static std::string standardize(std::string_view path);

    // `path` relative to `root` after both are standardized: "" for the root itself, nullopt when it
    // lies outside (whole components compared, so "/p/rootless" is not inside "/p/root").
    static std::optional<std::string> relativeTo(std::string_view path, std::string_view root);

    // "folder/name", or `name` alone when `folder` is empty.
    static std::string join(std::string_view folder, std::string_view name);
    // The part before the last "/" ("" when there is none) and the part after it.
    static std::string_view folderOf(std::string_view relativePath);
    static std::string_view nameOf(std::string_view relativePath);
};

}  // namespace pelko
