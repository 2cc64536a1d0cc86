#pragma once
// PreviewTabWarning: a stored tab whose file is missing under its project's root, as sent to the page.
// Keys "tabId", "path" (as stored), "code" ("file_missing"), "message" ("ファイルが見つかりません").
#include <string>
#include <string_view>

#include "platform/Json.hpp"

namespace pelko {

struct PreviewTabWarning {
    enum class Code { fileMissing };
    static std::string_view codeText(Code code);  // "file_missing"
    static constexpr std::string_view fileMissingMessage = "ファイルが見つかりません";

    std::string tabId;
    std::string path;
    Code code = Code::fileMissing;
    std::string message;

    static PreviewTabWarning fileMissing(std::string tabId, std::string path);

    Json toJson() const;
    // Throws DecodeError for a missing key, a wrong type or an unknown code.
    static PreviewTabWarning fromJson(const Json& value);

    friend bool operator==(const PreviewTabWarning&, const PreviewTabWarning&) = default;
};

}  // namespace pelko
