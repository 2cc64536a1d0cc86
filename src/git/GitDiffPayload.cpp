#include "git/GitDiffPayload.hpp"

namespace pelko {

std::string_view gitDiffStageName(GitDiffStage stage) {
    switch (stage) {
        case GitDiffStage::staged:
            return "staged";
        case GitDiffStage::unstaged:
            return "unstaged";
        case GitDiffStage::head:
            return "head";
    }
    return "unstaged";
}

Json GitDiffFilePayload::toJson() const {
    return Json{{"path", path},           {"stage", gitDiffStageName(stage)},
                {"additions", additions}, {"deletions", deletions},
                {"isBinary", isBinary},   {"patch", patch}};
}

Json GitDiffPayload::toJson() const {
    Json array = Json::array();
    for (const auto& file : files) array.push_back(file.toJson());
    return Json{{"projectId", projectId}, {"files", std::move(array)}};
}

}  // namespace pelko
