#pragma once
// ResourceBundle: where the application's own resources live (the web build, Info.plist, Config.plist,
// the icon). The folder "PelkoApp_PelkoApp.bundle" sits beside the executable in a build and under the
// installed data folder in an install; PELKO_RESOURCE_BUNDLE overrides both (tests use it).
//
// The answer is computed once per process, on first use, thread-safely, and never recomputed. A
// lookup never fails: without a bundle folder anywhere, the executable's own folder is the answer,
// and whoever looks for a file there handles its absence.
#include <filesystem>
#include <functional>

#include "platform/Environment.hpp"

namespace pelko {

class ResourceBundle {
  public:
    static constexpr const char* bundleName = "PelkoApp_PelkoApp.bundle";
    static constexpr const char* overrideVariable = "PELKO_RESOURCE_BUNDLE";

    // The process's bundle folder (from /proc/self/exe and Environment::process()).
    static const std::filesystem::path& resourceBundle();

    // The lookup itself: the override when it names a folder; else the bundle beside the
    // executable; else the installed data folder (<prefix>/share/pelko/<bundle> for an executable in
    // <prefix>/bin); else the executable's folder.
    static std::filesystem::path resolve(const std::filesystem::path& executable,
                                         const Environment& environment,
                                         const std::function<bool(const std::filesystem::path&)>& isFolder);

    // The page to show: "web/index.html", else "index.html" at the top level; empty when neither is a file.
    static std::filesystem::path indexPage(const std::filesystem::path& bundle);
};

}  // namespace pelko
