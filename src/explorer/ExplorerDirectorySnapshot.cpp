#include "explorer/ExplorerDirectorySnapshot.hpp"

namespace pelko {

Json ExplorerDirectorySnapshot::toJson() const {
    Json object = Json::object();
    object["path"] = path;
    Json list = Json::array();
    for (const auto& node : nodes) list.push_back(node.toJson());
    object["nodes"] = std::move(list);
    if (error) object["error"] = *error;
    return object;
}

ExplorerDirectorySnapshot ExplorerDirectorySnapshot::fromJson(const Json& object) {
    ExplorerDirectorySnapshot snapshot;
    snapshot.path = json::reqString(object, "path");
    for (const auto& node : json::reqArray(object, "nodes")) {
        snapshot.nodes.push_back(ExplorerNodePayload::fromJson(node));
    }
    snapshot.error = json::optString(object, "error");
    return snapshot;
}

}  // namespace pelko
