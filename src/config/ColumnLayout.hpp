#pragma once
// ColumnLayout: the order of the workspace's columns, which the page applies. ColumnKind is stored as
// its text ("explorer", "preview", "editor", "terminal", "git"); any other text is a decoding error.
#include <array>
#include <string_view>
#include <vector>

#include "platform/Json.hpp"

namespace pelko {

enum class ColumnKind { explorer, preview, editor, terminal, git };

inline constexpr std::array<ColumnKind, 5> allColumnKinds{
    ColumnKind::explorer, ColumnKind::preview, ColumnKind::editor, ColumnKind::terminal, ColumnKind::git};

std::string_view columnKindText(ColumnKind kind);
// Throws DecodeError for any text but the five kinds.
ColumnKind columnKindFromText(std::string_view text);

struct ColumnLayout {
    std::vector<ColumnKind> order;

    // explorer, preview, editor, terminal ("git" is not part of it).
    static std::vector<ColumnKind> defaultOrder();

    Json toJson() const;
    // Throws DecodeError unless `value` is an object with an "order" array of column texts.
    static ColumnLayout fromJson(const Json& value);

    friend bool operator==(const ColumnLayout&, const ColumnLayout&) = default;
};

}  // namespace pelko
