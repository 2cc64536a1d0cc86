#pragma once
// FileDrop: files dropped on the web view become the page's global `__pelkoNativeDropPayload` and a
// "pelko:native-drop" CustomEvent on `window` whose detail is that payload: the standardised paths in
// drop order and the drop time in seconds since 1970. Pure; any thread.
#include <optional>
#include <string>
#include <vector>

namespace pelko {

struct FileDrop {
    // The script for a drop, or nothing when there are no paths or the payload cannot be written.
    static std::optional<std::string> script(const std::vector<std::string>& paths, double timestamp);
};

}  // namespace pelko
