// GitService: the commit graph of the GitHub repository's default branch, on the serial queue.
#include "git/GitCommitGraphPayload.hpp"
#include "git/GitHubHistoryQueries.hpp"
#include "git/GitService.hpp"
#include "github/GitHubGraphQLClientError.hpp"

namespace pelko {
namespace {

// An answer without data or one that does not decode will not improve: the project gets no more
// graph requests.
bool shouldDisableCommitGraph(const std::exception& error) {
    if (const auto* graphQLError = dynamic_cast<const GitHubGraphQLClientError*>(&error)) {
        return graphQLError->code() == GitHubGraphQLClientError::Code::emptyData;
    }
    return dynamic_cast<const DecodeError*>(&error) != nullptr;
}

}  // namespace

void GitService::fetchCommitGraph(const Uuid& projectID, std::int64_t pageSize) {
    enqueue(projectID, Refusal::result, "git remote get-url",
            [pageSize](GitService& self, const Project& project) { self.runCommitGraph(project, pageSize); });
}

void GitService::runCommitGraph(const Project& project, std::int64_t pageSize) {
    GitCommitGraphPayload graph{project.id.string(), {}, {}};
    auto sendGraph = [&] {
        send([&](GitServiceEventSink& sink) { sink.gitServiceDidLoadCommitGraph(graph); });
    };
    bool unavailable = false;
    {
        std::lock_guard lock(projectSetsMutex_);
        unavailable = commitGraphUnavailableProjects_.contains(project.id);
    }
    if (unavailable) return sendGraph();
    auto access = gitHubAccess(project.metadata);
    if (!access) return sendGraph();

    try {
        Json data = graphQLClient_->execute(
            std::string(GitHubHistoryQueries::commitGraph),
            GitHubHistoryQueries::graphVariables(access->owner, access->name, pageSize), access->token);
        auto response = GitHubHistoryResponse::decode(data, false);
        if (const auto* history = response.defaultBranchHistory()) {
            std::vector<GitHubHistoryResponse::CommitNode> commits;
            for (const auto& edge : history->edges) commits.push_back(edge.node);
            graph = buildCommitGraphPayload(project.id.string(), commits);
        }
        sendGraph();
    } catch (const std::exception& error) {
        if (shouldDisableCommitGraph(error)) {
            {
                std::lock_guard lock(projectSetsMutex_);
                commitGraphUnavailableProjects_.insert(project.id);
            }
            return sendGraph();
        }
        const auto* graphQLError = dynamic_cast<const GitHubGraphQLClientError*>(&error);
        if (graphQLError && graphQLError->code() == GitHubGraphQLClientError::Code::unauthorized) {
            revokeRejectedToken(access->token);
        }
        std::string message = std::string("コミットグラフの取得に失敗しました: ") + error.what();
        send([&](GitServiceEventSink& sink) { sink.gitServiceDidFail(message); });
    }
}

}  // namespace pelko
