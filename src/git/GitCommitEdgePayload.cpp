#include "git/GitCommitEdgePayload.hpp"

namespace pelko {

Json GitCommitAuthorPayload::toJson() const {
    Json object = Json::object();
    object["name"] = name;
    if (login) object["login"] = *login;
    return object;
}

Json GitCommitFileSummaryPayload::toJson() const {
    Json object = Json::object();
    object["path"] = path;
    object["additions"] = additions;
    object["deletions"] = deletions;
    return object;
}

Json GitCommitEdgePayload::toJson() const {
    Json object = Json::object();
    object["oid"] = oid;
    object["messageHeadline"] = messageHeadline;
    object["author"] = author.toJson();
    object["committedDate"] = committedDate;
    Json list = Json::array();
    for (const auto& file : files) list.push_back(file.toJson());
    object["files"] = std::move(list);
    object["origin"] = origin;
    return object;
}

}  // namespace pelko
