#pragma once
// Uuid: a 128-bit identifier. Text is the canonical upper-case 8-4-4-4-12 form; parsing accepts
// either case and only the 36-character form. `random()` is a version-4 UUID from OpenSSL's secure
// random bytes.
#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pelko {

class Uuid {
  public:
    Uuid() = default;  // all zero
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    static Uuid random();
    static std::optional<Uuid> parse(std::string_view text);

    std::string string() const;
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend std::strong_ordering operator<=>(const Uuid& a, const Uuid& b) { return a.bytes_ <=> b.bytes_; }

  private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace pelko

template <>
struct std::hash<pelko::Uuid> {
    std::size_t operator()(const pelko::Uuid& id) const noexcept;
};
