#include "app/InfoPlist.hpp"

#include <plist/plist.h>

#include <cstdlib>
#include <limits>

#include "platform/AtomicFile.hpp"

namespace pelko {

std::optional<InfoPlist> InfoPlist::read(const std::filesystem::path& file) {
    std::string data;
    if (readWholeFile(file, data)) return std::nullopt;
    return parse(data);
}

std::optional<InfoPlist> InfoPlist::parse(std::string_view data) {
    if (data.empty() || data.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
    if (!root) return std::nullopt;
    if (plist_get_node_type(root) != PLIST_DICT) {
        plist_free(root);
        return std::nullopt;
    }
    InfoPlist result;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(root, &iter);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root, iter, &key, &value);
        if (!key) break;
        std::optional<std::string> text;
        if (value && plist_get_node_type(value) == PLIST_STRING) {
            char* raw = nullptr;
            plist_get_string_val(value, &raw);
            if (raw) {
                text = raw;
                std::free(raw);
            }
        }
        result.values_[key] = std::move(text);
        std::free(key);
    }
    std::free(iter);
    plist_free(root);
    return result;
}

std::optional<std::string> InfoPlist::string(const std::string& key) const {
    auto it = values_.find(key);
    return it == values_.end() ? std::nullopt : it->second;
}

}  // namespace pelko
