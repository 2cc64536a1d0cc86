#pragma once
// PropertyList: the top level of a property list file (XML or binary), read once with libplist: whether
// a key is present, its text when the value is a string, and its texts when the value is an array of
// strings only. Immutable after reading; safe from any thread.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelko {

class PropertyList {
  public:
    PropertyList() = default;
    // Nothing when the file is missing, not a regular file, or not a property list with a dictionary
    // at its root.
    static std::optional<PropertyList> read(const std::filesystem::path& file);
    static std::optional<PropertyList> parse(std::string_view data);

    bool has(const std::string& key) const { return values_.count(key) != 0; }
    // The value when it is a string.
    std::optional<std::string> string(const std::string& key) const;
    // The value when it is an array whose items are all strings.
    std::optional<std::vector<std::string>> strings(const std::string& key) const;

  private:
    struct Value {
        std::optional<std::string> text;
        std::optional<std::vector<std::string>> texts;
    };
    std::map<std::string, Value> values_;
};

}  // namespace pelko
