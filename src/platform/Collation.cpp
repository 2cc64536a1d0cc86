#include "platform/Collation.hpp"

#include <glib.h>

namespace pelko {

std::string collationKey(const std::string& name) {
    const auto length = static_cast<gssize>(name.size());
    gchar* valid =
        g_utf8_validate(name.data(), length, nullptr) ? nullptr : g_utf8_make_valid(name.data(), length);
    gchar* folded = valid ? g_utf8_casefold(valid, -1) : g_utf8_casefold(name.data(), length);
    gchar* key = g_utf8_collate_key(folded, -1);
    std::string result(key);
    g_free(key);
    g_free(folded);
    g_free(valid);
    return result;
}

}  // namespace pelko
