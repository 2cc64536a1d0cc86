#include "git/GitStatusDetailPayload.hpp"

namespace pelko {

namespace {

Json nodes(const std::vector<GitChangeTreeNode>& list) {
    Json array = Json::array();
    for (const auto& node : list) array.push_back(node.toJson());
    return array;
}

}  // namespace

Json GitStatusDetailPayload::toJson() const {
    Json json{{"projectId", projectId},
              {"branch", branch},
              {"headSha", headSha},
              {"ahead", ahead},
              {"behind", behind}};
    if (remote) json["remote"] = *remote;
    json["staged"] = nodes(staged);
    json["unstaged"] = nodes(unstaged);
    json["untracked"] = nodes(untracked);
    return json;
}

}  // namespace pelko
