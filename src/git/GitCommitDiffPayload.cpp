#include "git/GitCommitDiffPayload.hpp"

namespace pelko {

Json GitCommitDiffFilePayload::toJson() const {
    return Json{{"commit", commit},     {"path", path},   {"additions", additions}, {"deletions", deletions},
                {"isBinary", isBinary}, {"patch", patch}, {"resolved", resolved}};
}

Json GitCommitDiffPayload::toJson() const {
    Json array = Json::array();
    for (const auto& file : files) array.push_back(file.toJson());
    return Json{{"projectId", projectId}, {"commit", commit}, {"files", std::move(array)}};
}

}  // namespace pelko
