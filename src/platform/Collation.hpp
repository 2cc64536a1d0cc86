#pragma once
// Collation: how names are ordered for people. Pure; safe from any thread.
#include <string>

namespace pelko {

// The sort key of a name: case-folded and collated in the user's locale. Names that are not valid UTF-8
// are made valid first (GLib's functions require it), so callers that need a total order break ties on
// the raw bytes.
std::string collationKey(const std::string& name);

}  // namespace pelko
