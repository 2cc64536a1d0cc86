#pragma once
// Percent-encoding for OAuth query and form values: everything but the unreserved characters
// (letters, digits, "-", ".", "_", "~") is encoded, so "&", "=", "+" and the space never pass as they
// are. Decoding leaves malformed escapes and "+" as they stand.
#include <string>

namespace pelko::urlencoding {

std::string encode(const std::string& text);
std::string decode(const std::string& text);

}  // namespace pelko::urlencoding
