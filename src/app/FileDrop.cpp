#include "app/FileDrop.hpp"

#include <filesystem>

#include "platform/Json.hpp"

namespace pelko {

std::optional<std::string> FileDrop::script(const std::vector<std::string>& paths, double timestamp) {
    if (paths.empty()) return std::nullopt;
    Json standardised = Json::array();
    for (const auto& path : paths) {
        std::string text = std::filesystem::path(path).lexically_normal().string();
        if (text.size() > 1 && text.back() == '/') text.pop_back();
        standardised.push_back(text);
    }
    std::string payload;
    try {
        payload = json::encode(Json{{"paths", standardised}, {"timestamp", timestamp}});
    } catch (const EncodeError&) {
        return std::nullopt;
    }
    return "(function() {\n"
           "  window.__pelkoNativeDropPayload = " +
           payload +
           ";\n"
           "  window.dispatchEvent(new CustomEvent('pelko:native-drop', { detail: "
           "window.__pelkoNativeDropPayload }));\n"
           "})();";
}

}  // namespace pelko
