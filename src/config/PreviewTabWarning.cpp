#include "config/PreviewTabWarning.hpp"

#include <utility>

namespace pelko {

std::string_view PreviewTabWarning::codeText(Code code) {
    switch (code) {
        case Code::fileMissing:
            return "file_missing";
    }
    return "file_missing";
}

PreviewTabWarning PreviewTabWarning::fileMissing(std::string tabId, std::string path) {
    return PreviewTabWarning{std::move(tabId), std::move(path), Code::fileMissing,
                             std::string(fileMissingMessage)};
}

Json PreviewTabWarning::toJson() const {
    Json object = Json::object();
    object["tabId"] = tabId;
    object["path"] = path;
    object["code"] = std::string(codeText(code));
    object["message"] = message;
    return object;
}

PreviewTabWarning PreviewTabWarning::fromJson(const Json& value) {
    PreviewTabWarning warning;
    warning.tabId = json::reqString(value, "tabId");
    warning.path = json::reqString(value, "path");
    if (json::reqString(value, "code") != codeText(Code::fileMissing))
        throw DecodeError("unknown warning code");
    warning.message = json::reqString(value, "message");
    return warning;
}

}  // namespace pelko
