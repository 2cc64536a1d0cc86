#pragma once
// Base64 (RFC 4648, standard alphabet with padding) and base64url without padding (PKCE).
// Decoding is strict: wrong length, stray characters, bad padding or white space reject the input.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelko::base64 {

std::string encode(std::span<const std::uint8_t> bytes);
std::string encode(std::string_view bytes);
std::optional<std::vector<std::uint8_t>> decode(std::string_view text);

std::string encodeUrl(std::span<const std::uint8_t> bytes);

}  // namespace pelko::base64
