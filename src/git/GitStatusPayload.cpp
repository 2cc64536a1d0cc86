#include "git/GitStatusPayload.hpp"

namespace pelko {

namespace {

Json files(const std::vector<GitStatusPayload::File>& list) {
    Json array = Json::array();
    for (const auto& file : list) array.push_back(Json{{"path", file.path}, {"status", file.status}});
    return array;
}

}  // namespace

GitStatusPayload GitStatusPayload::placeholder(const Uuid& projectId) {
    GitStatusPayload payload;
    payload.projectId = projectId.string();
    return payload;
}

Json GitStatusPayload::toJson() const {
    return Json{{"projectId", projectId},
                {"branch", branch},
                {"ahead", ahead},
                {"behind", behind},
                {"staged", files(staged)},
                {"unstaged", files(unstaged)},
                {"untracked", files(untracked)},
                {"pending", pending}};
}

}  // namespace pelko
