// GitService: commit history pages, on the concurrent history queue.
#include "git/GitService.hpp"

namespace pelko {

void GitService::fetchCommitHistory(const Uuid& projectID, const std::optional<std::string>& cursor,
                                    std::int64_t pageSize, const std::optional<std::string>& requestId) {
    if (stopping_ || !historyQueue_) return;
    auto project = metadata(projectID);
    if (!project) return;
    historyQueue_->async(
        [weak = weak_from_this(), project = std::move(*project), cursor, pageSize, requestId] {
            auto self = weak.lock();
            if (!self || self->stopping_) return;
            self->runCommitHistory(project, cursor, pageSize, requestId,
                                   self->historyPager_.supportsCommitFilesField());
        });
}

std::optional<GitCommitHistoryPager::RemoteAccess> GitService::gitHubAccess(const ProjectMetadata& project) {
    if (!graphQLClient_ || !authProvider_) return std::nullopt;
    auto token = authProvider_->loadToken();
    auto url = remoteURL(project);
    auto coordinates = url ? parseGitHubRemoteURL(*url) : std::nullopt;
    if (!token || !coordinates) return std::nullopt;
    return GitCommitHistoryPager::RemoteAccess{token->accessToken, coordinates->owner, coordinates->name};
}

void GitService::runCommitHistory(const Project& project, const std::optional<std::string>& cursor,
                                  std::int64_t pageSize, const std::optional<std::string>& requestId,
                                  bool allowFiles) {
    std::optional<std::string> usedToken;
    auto result = historyPager_.loadPage(project.metadata, {cursor, pageSize, requestId, allowFiles}, [&] {
        auto access = gitHubAccess(project.metadata);
        if (access) usedToken = access->token;
        return access;
    });
    if (result.unauthorized && usedToken) revokeRejectedToken(*usedToken);
    send([&](GitServiceEventSink& sink) { sink.gitServiceDidLoadCommitHistory(result.payload); });
    if (!result.failure) return;
    send([&](GitServiceEventSink& sink) {
        sink.gitServiceDidFail("コミット履歴の取得に失敗しました: " + *result.failure);
    });
    GitCommitHistoryErrorPayload error{result.payload.projectId, *result.failure, requestId};
    send([&](GitServiceEventSink& sink) { sink.gitServiceDidFailCommitHistory(error); });
}

}  // namespace pelko
