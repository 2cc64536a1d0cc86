#pragma once
// XdgFolders: where Pelko keeps its files, resolved from an Environment.
//
//   home        $HOME, else the password database entry
//   dataHome    $XDG_DATA_HOME (absolute), else home/.local/share
//   cacheHome   $XDG_CACHE_HOME (absolute), else home/.cache
//   runtimeDir  $XDG_RUNTIME_DIR (absolute) or empty
//   tempDir     $TMPDIR, else /tmp
//
// Only paths are computed; nothing is created here except by `ensurePrivateRuntimeDir`.
#include <filesystem>

#include "platform/Environment.hpp"

namespace pelko {

struct XdgFolders {
    std::filesystem::path home;
    std::filesystem::path dataHome;
    std::filesystem::path cacheHome;
    std::filesystem::path runtimeDir;
    std::filesystem::path tempDir;

    static XdgFolders from(const Environment& environment);
    static const XdgFolders& process();  // from Environment::process(), computed once

    std::filesystem::path appData() const { return dataHome / "pelko"; }    // config.json, projects.db
    std::filesystem::path appCache() const { return cacheHome / "pelko"; }  // logs, shims, dumps
    // runtimeDir when set, else a fresh mkdtemp folder (mode 0700) under tempDir, removed with its
    // contents when the process exits normally; empty on failure.
    std::filesystem::path ensurePrivateRuntimeDir() const;
};

// "~" alone is `home`; "~/x" is home/x; anything else is returned unchanged.
std::string expandTilde(const std::string& path, const std::filesystem::path& home);

}  // namespace pelko
