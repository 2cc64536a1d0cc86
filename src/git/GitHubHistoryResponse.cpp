#include "git/GitHubHistoryResponse.hpp"

namespace pelko {
namespace {

using Response = GitHubHistoryResponse;

const Json* optMember(const Json& object, const char* key) {
    return json::optObject(object, key);
}

Response::CommitAuthor decodeAuthor(const Json& value) {
    Response::CommitAuthor author;
    author.name = json::optString(value, "name");
    if (const Json* user = optMember(value, "user"))
        author.user = Response::CommitUser{json::optString(*user, "login")};
    return author;
}

Response::CommitNode decodeNode(const Json& value) {
    Response::CommitNode node;
    node.oid = json::reqString(value, "oid");
    node.messageHeadline = json::optString(value, "messageHeadline");
    node.committedDate = json::reqString(value, "committedDate");
    if (const Json* author = optMember(value, "author")) node.author = decodeAuthor(*author);
    if (const Json* files = optMember(value, "files")) {
        Response::FileConnection connection;
        if (const Json* nodes = json::optArray(*files, "nodes")) {
            connection.nodes.emplace();
            for (const Json& file : *nodes) {
                connection.nodes->push_back({json::reqString(file, "path"),
                                             json::reqInteger(file, "additions", INT32_MIN, INT32_MAX),
                                             json::reqInteger(file, "deletions", INT32_MIN, INT32_MAX)});
            }
        }
        node.files = std::move(connection);
    }
    if (const Json* parents = optMember(value, "parents")) {
        Response::ParentConnection connection;
        if (const Json* nodes = json::optArray(*parents, "nodes")) {
            connection.nodes.emplace();
            for (const Json& parent : *nodes) connection.nodes->push_back({json::reqString(parent, "oid")});
        }
        node.parents = std::move(connection);
    }
    return node;
}

std::optional<Response::Target> decodeTarget(const Json& holder, bool requirePageInfo) {
    const Json* target = optMember(holder, "target");
    if (!target) return std::nullopt;
    Response::Target result;
    if (const Json* history = optMember(*target, "history")) {
        Response::History decoded;
        for (const Json& edge : json::reqArray(*history, "edges")) {
            decoded.edges.push_back({decodeNode(json::reqObject(edge, "node"))});
        }
        const Json* pageInfo = optMember(*history, "pageInfo");
        if (pageInfo) {
            decoded.pageInfo = Response::PageInfo{json::reqBool(*pageInfo, "hasNextPage"),
                                                  json::optString(*pageInfo, "endCursor")};
        } else if (requirePageInfo) {
            throw DecodeError("pageInfo missing");
        }
        result.history = std::move(decoded);
    }
    return result;
}

}  // namespace

std::optional<std::string> GitHubHistoryResponse::CommitAuthor::displayName() const {
    if (name && !name->empty()) return name;
    if (user && user->login && !user->login->empty()) return user->login;
    return std::nullopt;
}

GitHubHistoryResponse GitHubHistoryResponse::decode(const Json& data, bool requirePageInfo) {
    if (!data.is_object()) throw DecodeError("data is not an object");
    GitHubHistoryResponse response;
    if (const Json* repository = optMember(data, "repository")) {
        Repository decoded;
        if (const Json* ref = optMember(*repository, "defaultBranchRef")) {
            decoded.defaultBranchRef = DefaultBranchRef{decodeTarget(*ref, requirePageInfo)};
        }
        if (const Json* ref = optMember(*repository, "ref"))
            decoded.ref = Ref{decodeTarget(*ref, requirePageInfo)};
        response.repository = std::move(decoded);
    }
    return response;
}

const GitHubHistoryResponse::History* GitHubHistoryResponse::refHistory() const {
    if (!repository || !repository->ref || !repository->ref->target) return nullptr;
    const auto& history = repository->ref->target->history;
    return history ? &*history : nullptr;
}

const GitHubHistoryResponse::History* GitHubHistoryResponse::defaultBranchHistory() const {
    if (!repository || !repository->defaultBranchRef || !repository->defaultBranchRef->target) return nullptr;
    const auto& history = repository->defaultBranchRef->target->history;
    return history ? &*history : nullptr;
}

GitCommitEdgePayload makeCommitEdgePayload(const GitHubHistoryResponse::CommitNode& node,
                                           const std::string& origin) {
    GitCommitEdgePayload edge;
    edge.oid = node.oid;
    edge.messageHeadline = node.messageHeadline.value_or("");
    edge.committedDate = node.committedDate;
    if (node.author) {
        edge.author.name = node.author->displayName().value_or("Unknown");
        if (node.author->user) edge.author.login = node.author->user->login;
    } else {
        edge.author.name = "Unknown";
    }
    if (node.files && node.files->nodes) {
        for (const auto& file : *node.files->nodes)
            edge.files.push_back({file.path, file.additions, file.deletions});
    }
    edge.origin = origin;
    return edge;
}

}  // namespace pelko
