#include "platform/Environment.hpp"

#include <unistd.h>

namespace pelko {

const Environment& Environment::process() {
    static const Environment snapshot = [] {
        Map values;
        for (char** entry = environ; entry && *entry; ++entry) {
            std::string text(*entry);
            auto equals = text.find('=');
            if (equals == std::string::npos || equals == 0) continue;
            values.emplace(text.substr(0, equals), text.substr(equals + 1));
        }
        return Environment(std::move(values));
    }();
    return snapshot;
}

std::optional<std::string> Environment::get(const std::string& name) const {
    auto found = values_.find(name);
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

std::optional<std::string> Environment::nonEmpty(const std::string& name) const {
    auto value = get(name);
    if (!value || value->empty()) return std::nullopt;
    return value;
}

}  // namespace pelko
