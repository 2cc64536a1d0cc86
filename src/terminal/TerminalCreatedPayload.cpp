#include "terminal/TerminalCreatedPayload.hpp"

namespace pelko {

Json TerminalCreatedPayload::toJson() const {
    Json object = Json::object();
    object["sessionId"] = sessionId;
    object["pid"] = pid;
    object["cols"] = cols;
    object["rows"] = rows;
    object["title"] = title;
    object["workingDirectory"] = workingDirectory;
    object["shell"] = shell;
    return object;
}

}  // namespace pelko
