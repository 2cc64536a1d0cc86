#include "explorer/ExplorerNodePayload.hpp"

namespace pelko {

Json ExplorerNodePayload::toJson() const {
    Json object = Json::object();
    object["name"] = name;
    object["path"] = path;
    object["type"] = type == Type::folder ? "folder" : "file";
    if (children) {
        Json list = Json::array();
        for (const auto& child : *children) list.push_back(child.toJson());
        object["children"] = std::move(list);
    }
    return object;
}

ExplorerNodePayload ExplorerNodePayload::fromJson(const Json& object) {
    ExplorerNodePayload node;
    node.name = json::reqString(object, "name");
    node.path = json::reqString(object, "path");
    auto type = json::reqString(object, "type");
    if (type == "folder") {
        node.type = Type::folder;
    } else if (type == "file") {
        node.type = Type::file;
    } else {
        throw DecodeError("unknown explorer node type");
    }
    if (const Json* children = json::optArray(object, "children")) {
        node.children.emplace();
        for (const auto& child : *children) node.children->push_back(fromJson(child));
    }
    return node;
}

}  // namespace pelko
