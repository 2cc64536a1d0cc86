#include "platform/PropertyList.hpp"

#include <plist/plist.h>

#include <cstdlib>
#include <limits>
#include <memory>

#include "platform/AtomicFile.hpp"

namespace pelko {

namespace {

std::optional<std::string> textOf(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    char* raw = nullptr;
    plist_get_string_val(node, &raw);
    if (!raw) return std::nullopt;
    std::string text(raw);
    std::free(raw);
    return text;
}

std::optional<std::vector<std::string>> textsOf(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_ARRAY) return std::nullopt;
    std::vector<std::string> items;
    for (uint32_t i = 0; i < plist_array_get_size(node); ++i) {
        auto item = textOf(plist_array_get_item(node, i));
        if (!item) return std::nullopt;
        items.push_back(std::move(*item));
    }
    return items;
}

}  // namespace

std::optional<PropertyList> PropertyList::read(const std::filesystem::path& file) {
    std::string data;
    if (readWholeFile(file, data)) return std::nullopt;
    return parse(data);
}

std::optional<PropertyList> PropertyList::parse(std::string_view data) {
    if (data.empty() || data.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
    std::unique_ptr<void, void (*)(plist_t)> owner(root, [](plist_t node) {
        if (node) plist_free(node);
    });
    if (!root || plist_get_node_type(root) != PLIST_DICT) return std::nullopt;
    PropertyList result;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(root, &iter);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root, iter, &key, &value);
        if (!key) break;
        result.values_[key] = Value{textOf(value), textsOf(value)};
        std::free(key);
    }
    std::free(iter);
    return result;
}

std::optional<std::string> PropertyList::string(const std::string& key) const {
    auto it = values_.find(key);
    return it == values_.end() ? std::nullopt : it->second.text;
}

std::optional<std::vector<std::string>> PropertyList::strings(const std::string& key) const {
    auto it = values_.find(key);
    return it == values_.end() ? std::nullopt : it->second.texts;
}

}  // namespace pelko
