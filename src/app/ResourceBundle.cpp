#include "app/ResourceBundle.hpp"

#include <mutex>
#include <system_error>

namespace fs = std::filesystem;

namespace pelko {

fs::path ResourceBundle::resolve(const fs::path& executable, const Environment& environment,
                                 const std::function<bool(const fs::path&)>& isFolder) {
    if (auto overridden = environment.nonEmpty(overrideVariable)) {
        fs::path candidate(*overridden);
        if (isFolder(candidate)) return candidate;
    }
    fs::path folder = executable.parent_path();
    for (const fs::path& candidate :
         {folder / bundleName, folder.parent_path() / "share" / "pelko" / bundleName}) {
        if (isFolder(candidate)) return candidate;
    }
    return folder;
}

const fs::path& ResourceBundle::resourceBundle() {
    static const fs::path bundle = [] {
        std::error_code ec;
        fs::path executable = fs::read_symlink("/proc/self/exe", ec);
        if (ec) executable = fs::current_path(ec) / "pelko";
        return resolve(executable, Environment::process(), [](const fs::path& path) {
            std::error_code error;
            return fs::is_directory(path, error);
        });
    }();
    return bundle;
}

fs::path ResourceBundle::indexPage(const fs::path& bundle) {
    std::error_code ec;
    for (const fs::path& candidate : {bundle / "web" / "index.html", bundle / "index.html"}) {
        if (fs::is_regular_file(candidate, ec)) return candidate;
    }
    return {};
}

}  // namespace pelko
