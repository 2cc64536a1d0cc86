// GitService: the working tree by section.
#include "git/GitService.hpp"

namespace pelko {

void GitService::fetchWorkingTree(const Uuid& projectID) {
    enqueue(projectID, [projectID](GitService& self) { self.runWorkingTree(projectID); });
}

void GitService::runWorkingTree(const Uuid& projectID) {
    auto project = metadata(projectID);
    if (!project) return;
    auto result = runGit({"status", "--porcelain=v2", "--branch", "--untracked-files=all"}, project->metadata,
                         false, true);
    // A failed listing is an empty tree, without a message.
    auto entries =
        result.ok() ? workingTreeParser_.parse(result.value()) : std::vector<GitWorkingTreeEntry>{};
    auto payload = GitWorkingTreePayload::make(entries, project->id);
    send([&](GitServiceEventSink& sink) { sink.gitServiceDidLoadWorkingTree(payload); });
}

}  // namespace pelko
