#include "git/GitChangeTreeNode.hpp"

namespace pelko {

Json GitChangeTreeNode::toJson() const {
    Json json{{"path", path}, {"status", status}};
    if (children) {
        Json array = Json::array();
        for (const auto& child : *children) array.push_back(child.toJson());
        json["children"] = std::move(array);
    }
    return json;
}

}  // namespace pelko
