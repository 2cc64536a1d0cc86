#include "terminal/TerminalSnapshotPayload.hpp"

namespace pelko {

Json TerminalSnapshotPayload::Session::toJson() const {
    Json object = Json::object();
    object["id"] = id;
    object["title"] = title;
    object["workingDirectory"] = workingDirectory;
    object["status"] = status;
    if (projectId) object["projectId"] = *projectId;
    if (cols) object["cols"] = *cols;
    if (rows) object["rows"] = *rows;
    if (pid) object["pid"] = *pid;
    return object;
}

Json TerminalSnapshotPayload::toJson() const {
    Json list = Json::array();
    for (const auto& session : sessions) list.push_back(session.toJson());
    Json object = Json::object();
    object["sessions"] = std::move(list);
    return object;
}

}  // namespace pelko
