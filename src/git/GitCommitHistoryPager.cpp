#include "git/GitCommitHistoryPager.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <deque>

#include "git/GitHubHistoryQueries.hpp"
#include "git/GitHubHistoryResponse.hpp"
#include "github/GitHubGraphQLClientError.hpp"

namespace pelko {
namespace {

bool refusesFilesField(const GitHubGraphQLClientError& error) {
    if (error.code() != GitHubGraphQLClientError::Code::graphqlErrors) return false;
    const auto& messages = error.messages();
    return std::any_of(messages.begin(), messages.end(), [](const std::string& message) {
        return message.find("Field 'files'") != std::string::npos;
    });
}

bool holds(const std::vector<GitCommitEdgePayload>& edges, const std::string& oid) {
    return std::any_of(edges.begin(), edges.end(), [&](const auto& edge) { return edge.oid == oid; });
}

}  // namespace

GitCommitHistoryPager::GitCommitHistoryPager(std::shared_ptr<GitLocalHistoryProviding> localHistoryProvider,
                                             std::shared_ptr<const GitHubGraphQLClient> graphQLClient)
    : localHistoryProvider_(std::move(localHistoryProvider)), graphQLClient_(std::move(graphQLClient)) {}

GitCommitHistoryPager::RemoteHistoryState GitCommitHistoryPager::resetRemoteHistoryState(
    const Uuid& projectId) {
    std::lock_guard lock(remoteHistoryStateLock_);
    RemoteHistoryState fresh;
    fresh.generation = nextGeneration_++;
    remoteHistoryStates_[projectId] = fresh;
    return fresh;
}

GitCommitHistoryPager::RemoteHistoryState GitCommitHistoryPager::loadRemoteHistoryState(
    const Uuid& projectId) {
    std::lock_guard lock(remoteHistoryStateLock_);
    auto found = remoteHistoryStates_.find(projectId);
    if (found != remoteHistoryStates_.end()) return found->second;
    RemoteHistoryState fresh;
    fresh.generation = nextGeneration_++;
    remoteHistoryStates_[projectId] = fresh;
    return fresh;
}

void GitCommitHistoryPager::storeRemoteHistoryState(RemoteHistoryState state, const Uuid& projectId) {
    std::lock_guard lock(remoteHistoryStateLock_);
    auto& stored = remoteHistoryStates_[projectId];
    if (stored.generation == state.generation) stored = std::move(state);
}

GitCommitHistoryPager::Result GitCommitHistoryPager::loadPage(const ProjectMetadata& metadata,
                                                              const Request& request,
                                                              const RemoteAccessProvider& remoteAccess) {
    const std::string projectId = metadata.id.string();
    const std::int64_t pageSize = request.pageSize;

    // An empty cursor text, or an empty remote cursor inside one, means no cursor.
    const bool hasCursor = request.cursor && !request.cursor->empty();
    std::optional<std::string> remoteCursor;
    std::int64_t localOffset = 0;
    if (hasCursor) {
        if (auto cursor = GitCommitHistoryCursor::parse(*request.cursor)) {
            remoteCursor = cursor->remoteCursor;
            localOffset = std::max<std::int64_t>(0, cursor->localOffset);
        } else {
            remoteCursor = request.cursor;
        }
        if (remoteCursor && remoteCursor->empty()) remoteCursor.reset();
    }
    logger_.debug(fmt::format("commitHistory request project={} remoteCursor={} localOffset={}", projectId,
                              remoteCursor.value_or("nil"), localOffset));

    RemoteHistoryState state =
        hasCursor ? loadRemoteHistoryState(metadata.id) : resetRemoteHistoryState(metadata.id);
    const bool wasUsingFallback = state.usingFallback;
    std::deque<GitCommitEdgePayload> buffer(state.bufferedEdges.begin(), state.bufferedEdges.end());
    auto buffered = [&](const std::string& oid) {
        return std::any_of(buffer.begin(), buffer.end(), [&](const auto& edge) { return edge.oid == oid; });
    };

    // Local part: unpushed commits not delivered yet in this paging.
    GitLocalHistoryPage local = localHistoryProvider_->loadUnpushedHistory(metadata, localOffset, pageSize);
    const std::int64_t nextLocalOffset = std::min(localOffset + local.listedCount, local.totalCount);
    std::vector<GitCommitEdgePayload> edges;
    for (auto& edge : local.edges) {
        if (!state.deliveredOids.contains(edge.oid)) edges.push_back(std::move(edge));
    }
    auto known = [&](const std::string& oid) {
        return holds(edges, oid) || buffered(oid) || state.deliveredOids.contains(oid);
    };

    // Remote part.
    Result result;
    bool requested = false;
    std::optional<std::string> nextRemoteCursor;
    std::optional<RemoteAccess> access = local.branch ? remoteAccess() : std::nullopt;
    if (!access) {
        state.lastRemoteCursor.reset();
        state.hasNextPage = false;
    } else {
        requested = true;
        try {
            Json variables = GitHubHistoryQueries::historyVariables(access->owner, access->name,
                                                                    *local.branch, pageSize, remoteCursor);
            bool withFiles = request.allowFiles && supportsCommitFilesField_.load();
            auto execute = [&](bool files) {
                auto query = files ? GitHubHistoryQueries::commitHistory
                                   : GitHubHistoryQueries::commitHistoryWithoutFiles;
                return graphQLClient_->execute(std::string(query), variables, access->token);
            };
            Json data;
            try {
                data = execute(withFiles);
            } catch (const GitHubGraphQLClientError& error) {
                if (!withFiles || !refusesFilesField(error)) throw;
                supportsCommitFilesField_.store(false);
                data = execute(false);
            }
            auto response = GitHubHistoryResponse::decode(data, true);
            const auto* history = response.refHistory();
            if (!history) history = response.defaultBranchHistory();
            if (!history) {
                state.hasNextPage = false;
                state.lastRemoteCursor = remoteCursor;
                buffer.clear();
                nextRemoteCursor = remoteCursor;
            } else {
                const auto& pageInfo = *history->pageInfo;
                nextRemoteCursor = pageInfo.endCursor ? pageInfo.endCursor : remoteCursor;
                state.hasNextPage = pageInfo.hasNextPage;
                state.lastRemoteCursor = pageInfo.endCursor;
                state.usingFallback = false;
                state.fallbackOffset = 0;
                state.fallbackTotalCount = 0;
                for (const auto& edge : history->edges) {
                    if (!known(edge.node.oid)) buffer.push_back(makeCommitEdgePayload(edge.node, "remote"));
                }
            }
        } catch (const std::exception& error) {
            if (const auto* graphQLError = dynamic_cast<const GitHubGraphQLClientError*>(&error)) {
                result.failure = graphQLError->errorDescription();
                result.unauthorized = graphQLError->code() == GitHubGraphQLClientError::Code::unauthorized;
            } else {
                result.failure = error.what();
            }
            logger_.error(
                fmt::format("commitHistory remote error project={} error={}", projectId, *result.failure));
            buffer.clear();
            state.hasNextPage = false;
            state.lastRemoteCursor = remoteCursor;
            nextRemoteCursor = remoteCursor;
        }
    }

    const bool fallback =
        !requested || result.failure || (!nextRemoteCursor && buffer.empty() && !state.hasNextPage);
    std::int64_t remaining = pageSize - static_cast<std::int64_t>(edges.size());
    if (fallback) {
        if (!(hasCursor && wasUsingFallback)) {
            buffer.clear();
            state.fallbackOffset = 0;
            state.fallbackTotalCount = 0;
        }
        state.usingFallback = true;
        // Without an upstream the unpushed commits already are the whole history. One commit more than
        // this page holds is read ahead, so a page that ends where the history goes on says so.
        bool readHistory = local.upstream.has_value();
        while (readHistory && static_cast<std::int64_t>(buffer.size()) <= remaining) {
            GitLocalHistoryPage page =
                localHistoryProvider_->loadHistory(metadata, state.fallbackOffset, pageSize);
            if (page.listedCount == 0) {
                state.fallbackTotalCount = page.totalCount;
                break;
            }
            std::int64_t reached = state.fallbackOffset + page.listedCount;
            state.fallbackOffset = std::min(reached, page.totalCount);
            state.fallbackTotalCount = page.totalCount;
            for (auto& edge : page.edges) {
                if (known(edge.oid)) continue;
                edge.origin = "remote";
                buffer.push_back(std::move(edge));
            }
            if (page.listedCount < pageSize || reached >= page.totalCount) break;
        }
        state.hasNextPage = state.fallbackOffset < state.fallbackTotalCount;
        nextRemoteCursor.reset();
    } else {
        state.usingFallback = false;
        state.fallbackOffset = 0;
        state.fallbackTotalCount = 0;
    }

    // Assembly: the local commits, then buffered ones while room is left.
    const std::size_t localCount = edges.size();
    while (remaining > 0 && !buffer.empty()) {
        GitCommitEdgePayload edge = std::move(buffer.front());
        buffer.pop_front();
        if (holds(edges, edge.oid) || state.deliveredOids.contains(edge.oid)) continue;
        edges.push_back(std::move(edge));
        --remaining;
    }
    for (const auto& edge : edges) state.deliveredOids.insert(edge.oid);

    auto& payload = result.payload;
    payload.projectId = projectId;
    payload.pageInfo.hasNextPage = state.hasNextPage || nextLocalOffset < local.totalCount || !buffer.empty();
    payload.pageInfo.endCursor = nextRemoteCursor;
    payload.requestId = request.requestId;
    payload.remoteCursor = nextRemoteCursor;
    payload.localOffset = nextLocalOffset;
    payload.cursorPayload = GitCommitHistoryCursor{nextRemoteCursor, nextLocalOffset}.text();
    payload.remoteRemainingCount = static_cast<std::int64_t>(buffer.size());
    logger_.debug(fmt::format("commitHistory response project={} localCount={} remoteCount={} hasNext={}",
                              projectId, localCount, edges.size() - localCount,
                              payload.pageInfo.hasNextPage));
    payload.edges = std::move(edges);

    state.bufferedEdges.assign(std::make_move_iterator(buffer.begin()),
                               std::make_move_iterator(buffer.end()));
    storeRemoteHistoryState(std::move(state), metadata.id);
    return result;
}

}  // namespace pelko
