#pragma once
// GitCommitHistoryPager: the commit-history pages of the Git service. A page lists the checked-out
// branch's unpushed commits ("local"), then GitHub's history of the branch of that name, or of the
// default branch ("remote"); when GitHub cannot be asked, fails, or has nothing more, the rest comes
// from the local branch's whole history (also marked "remote"). Remote commits that do not fit wait in
// a per-project buffer for the next page.
//
// `loadPage` blocks while git and GitHub answer and may run for several requests at once. The per-project
// state is touched only under its lock: one reset (first pages), one load and one store per request.
// Every oid is delivered at most once per paging (a first page starts a new paging). A first page also
// starts a new generation of the project's state; a request stores its state only while its generation
// is current, so an overlapping older request never overwrites a newer paging. The pager sends no
// events and touches no token store: it reports a refused token and any failure in its result.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/ProjectMetadata.hpp"
#include "git/GitCommitHistoryPayload.hpp"
#include "git/GitLocalHistoryProviding.hpp"
#include "github/GitHubGraphQLClient.hpp"
#include "platform/SystemLogger.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

class GitCommitHistoryPager {
  public:
    // What a GitHub request needs: the token and the repository's owner and name.
    struct RemoteAccess {
        std::string token;
        std::string owner;
        std::string name;
    };
    // Asked once per request, after the local page: nullopt when GitHub cannot be asked.
    using RemoteAccessProvider = std::function<std::optional<RemoteAccess>()>;

    struct Request {
        std::optional<std::string> cursor;
        std::int64_t pageSize = 20;
        std::optional<std::string> requestId;
        bool allowFiles = true;
    };

    struct Result {
        GitCommitHistoryPayload payload;
        // The GitHub failure's description; the page was filled from the local history.
        std::optional<std::string> failure;
        // GitHub refused the token.
        bool unauthorized = false;
    };

    GitCommitHistoryPager(std::shared_ptr<GitLocalHistoryProviding> localHistoryProvider,
                          std::shared_ptr<const GitHubGraphQLClient> graphQLClient);

    Result loadPage(const ProjectMetadata& metadata, const Request& request,
                    const RemoteAccessProvider& remoteAccess);

    // True until GitHub first refuses the `files` field; then false for good.
    bool supportsCommitFilesField() const { return supportsCommitFilesField_.load(); }

  private:
    struct RemoteHistoryState {
        std::vector<GitCommitEdgePayload> bufferedEdges;
        std::optional<std::string> lastRemoteCursor;
        bool hasNextPage = false;
        bool usingFallback = false;
        std::int64_t fallbackOffset = 0;
        std::int64_t fallbackTotalCount = 0;
        // The oids delivered since the paging's first page.
        std::set<std::string> deliveredOids;
        std::uint64_t generation = 0;
    };

    RemoteHistoryState resetRemoteHistoryState(const Uuid& projectId);
    RemoteHistoryState loadRemoteHistoryState(const Uuid& projectId);
    void storeRemoteHistoryState(RemoteHistoryState state, const Uuid& projectId);

    std::shared_ptr<GitLocalHistoryProviding> localHistoryProvider_;
    std::shared_ptr<const GitHubGraphQLClient> graphQLClient_;
    std::atomic<bool> supportsCommitFilesField_{true};
    std::mutex remoteHistoryStateLock_;
    std::map<Uuid, RemoteHistoryState> remoteHistoryStates_;
    std::uint64_t nextGeneration_ = 1;
    SystemLogger logger_{"app.pelko.git-service", "history"};
};

}  // namespace pelko
