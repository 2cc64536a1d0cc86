#pragma once
// CodexShimInstaller: makes every run of `codex` inside a terminal session announce its start and
// end in the output (OSC 633 markers). It writes a bash wrapper named "codex" into "codex-shims",
// five zsh start-up files into "zsh-bootstrap" (both in the caches folder's "pelko" folder), and
// hands the terminal the environment that puts the wrapper first on PATH and points ZDOTDIR at the
// bootstrap folder.
//
// Files are rewritten only when their content differs. The overrides are computed once and cached.
// Paths placed inside double quotes in the scripts are escaped for backslash, double quote, dollar
// and backtick, so no folder name can run code. The wrapper never takes the wrapper of a run above
// it (PELKO_CODEX_SHIM_CHAIN, another installation's included) for the real codex, and a chain of
// 17 wrappers ends with 127, so wrappers never run each other in a loop. Failures are not reported:
// a failed shim leaves the environment untouched, a failed bootstrap leaves ZDOTDIR alone. Main
// thread.
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "platform/Environment.hpp"

namespace pelko {

class CodexShimInstaller {
  public:
    // Null when there is no caches folder.
    static std::shared_ptr<CodexShimInstaller> create(
        const Environment& environment = Environment::process());
    // `appCacheFolder` is the caches folder's "pelko" folder.
    CodexShimInstaller(const std::filesystem::path& appCacheFolder, const Environment& environment);

    const std::filesystem::path& shimDirectory() const { return shimDirectory_; }
    const std::filesystem::path& zshBootstrapDirectory() const { return zshBootstrapDirectory_; }
    const std::string& originalZdotdir() const { return originalZdotdir_; }

    std::map<std::string, std::string> environmentOverrides();
    std::error_code installCodexShim();
    bool prepareZshBootstrap();
    std::string makeCodexScript() const;
    std::string makeZshBootstrapFile(const std::string& name, bool restoreZdotdir) const;

    // Backslash, double quote, dollar and backtick get a backslash, so the text is literal inside "...".
    static std::string escapeForDoubleQuotes(const std::string& text);

  private:
    std::filesystem::path shimDirectory_;
    std::filesystem::path zshBootstrapDirectory_;
    std::string originalZdotdir_;
    std::optional<std::string> programPath_;
    std::optional<std::map<std::string, std::string>> cachedOverrides_;
};

}  // namespace pelko
