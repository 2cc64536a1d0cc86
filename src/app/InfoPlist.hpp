#pragma once
// InfoPlist: the application's information property list ("Info.plist" in the resource bundle), read
// once with libplist (XML or binary). Only the top-level keys are kept: whether a key is present, and
// its text when the value is a string. Immutable after reading; safe from any thread.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace pelko {

class InfoPlist {
  public:
    InfoPlist() = default;
    // Nothing when the file is missing or is not a property list with a dictionary at its root.
    static std::optional<InfoPlist> read(const std::filesystem::path& file);
    static std::optional<InfoPlist> parse(std::string_view data);

    bool has(const std::string& key) const { return values_.count(key) != 0; }
    // The value when it is a string.
    std::optional<std::string> string(const std::string& key) const;

  private:
    std::map<std::string, std::optional<std::string>> values_;
};

}  // namespace pelko
