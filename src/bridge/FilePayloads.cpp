#include "bridge/FilePayloads.hpp"

namespace pelko {

Json FileContentPayload::toJson() const {
    Json json = Json::object();
    json["projectId"] = projectId.string();
    json["path"] = path;
    json["content"] = content;
    if (encoding) json["encoding"] = *encoding;
    if (mimeType) json["mimeType"] = *mimeType;
    return json;
}

Json FileConfirmationPayload::toJson() const {
    Json json = Json::object();
    json["projectId"] = projectId.string();
    json["path"] = path;
    json["sizeBytes"] = sizeBytes;
    json["softLimitBytes"] = softLimitBytes;
    json["hardLimitBytes"] = hardLimitBytes;
    return json;
}

Json FileErrorPayload::toJson() const {
    Json json = Json::object();
    json["projectId"] = projectId.string();
    json["path"] = path;
    json["message"] = message;
    if (code) json["code"] = *code;
    return json;
}

Json FileSavedPayload::toJson() const {
    Json json = Json::object();
    json["projectId"] = projectId.string();
    json["path"] = path;
    return json;
}

Json FileRenamedPayload::toJson() const {
    Json json = Json::object();
    json["projectId"] = projectId.string();
    json["path"] = path;
    json["nextPath"] = nextPath;
    json["entityType"] = entityType;
    return json;
}

}  // namespace pelko
