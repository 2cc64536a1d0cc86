// GitService: the branch map, computed on the serial queue.
#include "git/GitService.hpp"

namespace pelko {

void GitService::fetchBranchMap(const Uuid& projectID, std::int64_t limit) {
    bool known =
        enqueue(projectID, Refusal::branchMapError, "git for-each-ref",
                [limit](GitService& self, const Project& project) { self.runBranchMap(project, limit); });
    if (!known) {
        GitBranchMapErrorPayload error{projectID.string(), "プロジェクトを確認できません"};
        sendLater([error](GitServiceEventSink& sink) { sink.gitServiceDidFailBranchMap(error); });
    }
}

void GitService::runBranchMap(const Project& project, std::int64_t limit) {
    auto map = branchMapProvider_->loadBranchMap(project.metadata, limit);
    send([&](GitServiceEventSink& sink) { sink.gitServiceDidLoadBranchMap(map); });
}

}  // namespace pelko
