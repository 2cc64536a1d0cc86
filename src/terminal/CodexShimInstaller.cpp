#include "terminal/CodexShimInstaller.hpp"

#include <array>

#include "platform/AtomicFile.hpp"
#include "platform/XdgFolders.hpp"

namespace pelko {

namespace fs = std::filesystem;

namespace {

constexpr std::array<const char*, 5> bootstrapNames{".zshenv", ".zprofile", ".zshrc", ".zlogin", ".zlogout"};

bool hasContent(const fs::path& file, const std::string& expected) {
    std::string existing;
    return !readWholeFile(file, existing) && existing == expected;
}

std::error_code writeWithMode(const fs::path& file, const std::string& text, fs::perms mode) {
    AtomicWriteOptions options;
    options.newFileMode = static_cast<mode_t>(mode);
    if (auto error = writeFileAtomically(file, text, options)) return error;
    std::error_code error;
    fs::permissions(file, mode, fs::perm_options::replace, error);
    return error;
}

}  // namespace

std::shared_ptr<CodexShimInstaller> CodexShimInstaller::create(const Environment& environment) {
    auto folders = XdgFolders::from(environment);
    if (folders.cacheHome.empty()) return nullptr;
    return std::make_shared<CodexShimInstaller>(folders.appCache(), environment);
}

CodexShimInstaller::CodexShimInstaller(const fs::path& appCacheFolder, const Environment& environment)
    : shimDirectory_(appCacheFolder / "codex-shims"),
      zshBootstrapDirectory_(appCacheFolder / "zsh-bootstrap"),
      programPath_(environment.nonEmpty("PATH")) {
    auto home = XdgFolders::from(environment).home;
    if (auto zdotdir = environment.nonEmpty("ZDOTDIR")) {
        originalZdotdir_ = expandTilde(*zdotdir, home);
    } else {
        originalZdotdir_ = home.string();
    }
}

std::string CodexShimInstaller::escapeForDoubleQuotes(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (c == '\\' || c == '"' || c == '$' || c == '`') result.push_back('\\');
        result.push_back(c);
    }
    return result;
}

std::map<std::string, std::string> CodexShimInstaller::environmentOverrides() {
    if (cachedOverrides_) return *cachedOverrides_;
    std::map<std::string, std::string> overrides;
    if (!installCodexShim()) {
        overrides["PATH"] =
            programPath_ ? shimDirectory_.string() + ":" + *programPath_ : shimDirectory_.string();
        if (prepareZshBootstrap()) overrides["ZDOTDIR"] = zshBootstrapDirectory_.string();
    }
    cachedOverrides_ = overrides;
    return overrides;
}

std::error_code CodexShimInstaller::installCodexShim() {
    std::error_code error;
    fs::create_directories(shimDirectory_, error);
    if (error) return error;
    std::string script = makeCodexScript();
    fs::path file = shimDirectory_ / "codex";
    if (hasContent(file, script)) return {};
    return writeWithMode(file, script, fs::perms(0755));
}

bool CodexShimInstaller::prepareZshBootstrap() {
    std::error_code error;
    fs::create_directories(zshBootstrapDirectory_, error);
    if (error) return false;
    for (const char* name : bootstrapNames) {
        std::string nameText(name);
        std::string text = makeZshBootstrapFile(nameText, nameText == ".zshrc" || nameText == ".zlogin");
        fs::path file = zshBootstrapDirectory_ / nameText;
        if (hasContent(file, text)) continue;
        if (writeWithMode(file, text, fs::perms(0644))) return false;
    }
    return true;
}

std::string CodexShimInstaller::makeCodexScript() const {
    std::string shimDir = escapeForDoubleQuotes(shimDirectory_.string());
    return "#!/bin/bash\n"
           "__pelko_codex_shim_dir=\"" +
           shimDir +
           "\"\n"
           "__pelko_codex_real=\"\"\n"
           "__pelko_codex_emitted=0\n"
           "\n"
           "# The wrapper folders of the runs above this one, this one first (another installation's\n"
           "# wrapper may sit on PATH too): none of them is ever taken for the real codex.\n"
           "__pelko_codex_chain=\"$__pelko_codex_shim_dir${PELKO_CODEX_SHIM_CHAIN:+:$PELKO_CODEX_SHIM_CHAIN}"
           "\"\n"
           "\n"
           "__pelko_codex_in_chain() {\n"
           "    local rest=\"$__pelko_codex_chain:\" folder\n"
           "    while [ -n \"$rest\" ]; do\n"
           "        folder=\"${rest%%:*}\"\n"
           "        rest=\"${rest#*:}\"\n"
           "        [ -n \"$folder\" ] && [ \"$1\" -ef \"$folder/codex\" ] && return 0\n"
           "    done\n"
           "    return 1\n"
           "}\n"
           "\n"
           "__pelko_codex_find_real() {\n"
           "    if [ -n \"$__pelko_codex_real\" ]; then\n"
           "        printf '%s\\n' \"$__pelko_codex_real\"\n"
           "        return 0\n"
           "    fi\n"
           "    local rest=\"$PATH:\" entry candidate\n"
           "    while [ -n \"$rest\" ]; do\n"
           "        entry=\"${rest%%:*}\"\n"
           "        rest=\"${rest#*:}\"\n"
           "        [ -z \"$entry\" ] && entry=\".\"\n"
           "        [ \"$entry\" = \"$__pelko_codex_shim_dir\" ] && continue\n"
           "        candidate=\"$entry/codex\"\n"
           "        # Another spelling of the shim folder (a link, a doubled slash) must not run the shim "
           "again.\n"
           "        [ \"$candidate\" -ef \"$__pelko_codex_shim_dir/codex\" ] && continue\n"
           "        [ \"$candidate\" -ef \"${BASH_SOURCE[0]}\" ] && continue\n"
           "        __pelko_codex_in_chain \"$candidate\" && continue\n"
           "        if [ -f \"$candidate\" ] && [ -x \"$candidate\" ]; then\n"
           "            __pelko_codex_real=\"$candidate\"\n"
           "            printf '%s\\n' \"$candidate\"\n"
           "            return 0\n"
           "        fi\n"
           "    done\n"
           "    return 1\n"
           "}\n"
           "\n"
           "__pelko_codex_emit_end() {\n"
           "    if [ \"$__pelko_codex_emitted\" = \"1\" ]; then\n"
           "        return\n"
           "    fi\n"
           "    __pelko_codex_emitted=1\n"
           "    printf '\\033]633;pelko-codex:end;status=%d\\a' \"$1\"\n"
           "}\n"
           "\n"
           "__pelko_codex_cleanup() {\n"
           "    local status=$?\n"
           "    trap - EXIT INT TERM HUP\n"
           "    __pelko_codex_emit_end \"$status\"\n"
           "    exit \"$status\"\n"
           "}\n"
           "\n"
           "trap __pelko_codex_cleanup EXIT INT TERM HUP\n"
           "\n"
           "# Whatever loop the folders above miss, a chain of wrappers stays short.\n"
           "__pelko_codex_links=\"${__pelko_codex_chain//[^:]/}\"\n"
           "if [ \"${#__pelko_codex_links}\" -ge 16 ]; then\n"
           "    echo \"pelko codex shim: failed to locate real codex binary\" >&2\n"
           "    exit 127\n"
           "fi\n"
           "\n"
           "if ! CODEX_REAL=\"$(__pelko_codex_find_real)\"; then\n"
           "    echo \"pelko codex shim: failed to locate real codex binary\" >&2\n"
           "    exit 127\n"
           "fi\n"
           "\n"
           "printf '\\033]633;pelko-codex:start\\a'\n"
           "export PELKO_CODEX_SHIM_CHAIN=\"$__pelko_codex_chain\"\n"
           "\"$CODEX_REAL\" \"$@\"\n"
           "status=$?\n"
           "exit \"$status\"";
}

std::string CodexShimInstaller::makeZshBootstrapFile(const std::string& name, bool restoreZdotdir) const {
    std::string shimDir = escapeForDoubleQuotes(shimDirectory_.string());
    std::string userFile = escapeForDoubleQuotes((fs::path(originalZdotdir_) / name).string());
    std::string text =
        "# Generated by Pelko CLI\n"
        "__pelko_prepend_codex_path() {\n"
        "  local target=\"" +
        shimDir +
        "\"\n"
        "  case \":$PATH:\" in\n"
        "    *\":$target:\"*) ;;\n"
        "    *) export PATH=\"$target:$PATH\" ;;\n"
        "  esac\n"
        "}\n"
        "__pelko_prepend_codex_path\n"
        "if [ -f \"" +
        userFile +
        "\" ]; then\n"
        "  source \"" +
        userFile +
        "\"\n"
        "fi\n"
        "__pelko_prepend_codex_path\n";
    if (restoreZdotdir) {
        text +=
            "if [ -z \"$PELKO_ZDOTDIR_RESTORED\" ]; then\n"
            "  export ZDOTDIR=\"" +
            escapeForDoubleQuotes(originalZdotdir_) +
            "\"\n"
            "  export PELKO_ZDOTDIR_RESTORED=1\n"
            "fi\n";
    }
    text += "if [ -x \"" + shimDir +
            "/codex\" ]; then\n"
            "  unfunction codex >/dev/null 2>&1\n"
            "  codex() {\n"
            "    \"" +
            shimDir +
            "/codex\" \"$@\"\n"
            "  }\n"
            "fi\n"
            "\n"
            "__pelko_prepend_codex_path";
    return text;
}

}  // namespace pelko
