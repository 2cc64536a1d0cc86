// GitService: the branch map, computed on the serial queue.
#include "git/GitService.hpp"

namespace pelko {

void GitService::fetchBranchMap(const Uuid& projectID, std::int64_t limit) {
    enqueue(projectID, [projectID, limit](GitService& self) { self.runBranchMap(projectID, limit); });
}

void GitService::runBranchMap(const Uuid& projectID, std::int64_t limit) {
    auto project = metadata(projectID);
    if (!project) {
        GitBranchMapErrorPayload error{projectID.string(), "プロジェクトを確認できません"};
        send([&](GitServiceEventSink& sink) { sink.gitServiceDidFailBranchMap(error); });
        return;
    }
    auto map = branchMapProvider_->loadBranchMap(project->metadata, limit);
    send([&](GitServiceEventSink& sink) { sink.gitServiceDidLoadBranchMap(map); });
}

}  // namespace pelko
