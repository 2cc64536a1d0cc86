#include "config/ColumnLayout.hpp"

#include <string>

namespace pelko {

std::string_view columnKindText(ColumnKind kind) {
    switch (kind) {
        case ColumnKind::explorer:
            return "explorer";
        case ColumnKind::preview:
            return "preview";
        case ColumnKind::editor:
            return "editor";
        case ColumnKind::terminal:
            return "terminal";
        case ColumnKind::git:
            return "git";
    }
    return "explorer";
}

ColumnKind columnKindFromText(std::string_view text) {
    for (ColumnKind kind : allColumnKinds) {
        if (columnKindText(kind) == text) return kind;
    }
    throw DecodeError("unknown column kind: " + std::string(text));
}

std::vector<ColumnKind> ColumnLayout::defaultOrder() {
    return {ColumnKind::explorer, ColumnKind::preview, ColumnKind::editor, ColumnKind::terminal};
}

Json ColumnLayout::toJson() const {
    Json kinds = Json::array();
    for (ColumnKind kind : order) kinds.push_back(std::string(columnKindText(kind)));
    Json object = Json::object();
    object["order"] = std::move(kinds);
    return object;
}

ColumnLayout ColumnLayout::fromJson(const Json& value) {
    ColumnLayout layout;
    for (const Json& element : json::reqArray(value, "order")) {
        layout.order.push_back(columnKindFromText(json::asString(element)));
    }
    return layout;
}

}  // namespace pelko
