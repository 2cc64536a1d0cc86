// GitService: the working tree by section.
#include "git/GitService.hpp"

namespace pelko {

void GitService::fetchWorkingTree(const Uuid& projectID) {
    enqueue(projectID, Refusal::result, "git status",
            [](GitService& self, const Project& project) { self.runWorkingTree(project); });
}

void GitService::runWorkingTree(const Project& project) {
    auto result = runGit({"status", "--porcelain=v2", "--branch", "--untracked-files=all"}, project.metadata,
                         false, true);
    // A failed listing is an empty tree, without a message.
    auto entries =
        result.ok() ? workingTreeParser_.parse(result.value()) : std::vector<GitWorkingTreeEntry>{};
    auto payload = GitWorkingTreePayload::make(entries, project.id);
    send([&](GitServiceEventSink& sink) { sink.gitServiceDidLoadWorkingTree(payload); });
}

}  // namespace pelko
