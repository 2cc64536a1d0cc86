#include "git/GitCommitHistoryPayload.hpp"

namespace pelko {

std::string GitCommitHistoryCursor::text() const {
    Json object = Json::object();
    if (remoteCursor) object["remoteCursor"] = *remoteCursor;
    object["localOffset"] = localOffset;
    return json::encode(object);
}

std::optional<GitCommitHistoryCursor> GitCommitHistoryCursor::parse(std::string_view text) {
    auto value = json::parse(text);
    if (!value || !value->is_object()) return std::nullopt;
    try {
        return GitCommitHistoryCursor{json::optString(*value, "remoteCursor"),
                                      json::reqInteger(*value, "localOffset")};
    } catch (const DecodeError&) {
        return std::nullopt;
    }
}

Json GitCommitHistoryPageInfoPayload::toJson() const {
    Json object = Json::object();
    object["hasNextPage"] = hasNextPage;
    if (endCursor) object["endCursor"] = *endCursor;
    return object;
}

Json GitCommitHistoryPayload::toJson() const {
    Json object = Json::object();
    object["projectId"] = projectId;
    Json list = Json::array();
    for (const auto& edge : edges) list.push_back(edge.toJson());
    object["edges"] = std::move(list);
    object["pageInfo"] = pageInfo.toJson();
    if (requestId) object["requestId"] = *requestId;
    if (remoteCursor) object["remoteCursor"] = *remoteCursor;
    object["localOffset"] = localOffset;
    if (cursorPayload) object["cursorPayload"] = *cursorPayload;
    if (remoteRemainingCount) object["remoteRemainingCount"] = *remoteRemainingCount;
    return object;
}

Json GitCommitHistoryErrorPayload::toJson() const {
    Json object = Json::object();
    object["projectId"] = projectId;
    object["message"] = message;
    if (requestId) object["requestId"] = *requestId;
    return object;
}

}  // namespace pelko
