#include "bridge/FilePayloads.hpp"

namespace pelko {

Json FileContentPayload::toJson() const& {
    return FileContentPayload(*this).toJson();
}

Json FileContentPayload::toJson() && {
    Json json = Json::object();
    // Room for every key first: the object is a vector whose growth copies its values (their keys
    // are const), the whole content included.
    json.get_ref<Json::object_t&>().reserve(5);
    json["projectId"] = projectId.string();
    json["path"] = std::move(path);
    json["content"] = std::move(content);
    if (encoding) json["encoding"] = std::move(*encoding);
    if (mimeType) json["mimeType"] = std::move(*mimeType);
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
