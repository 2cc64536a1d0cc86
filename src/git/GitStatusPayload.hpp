#pragma once
// GitStatusPayload: the "git/status" event. Plain value.
//
// JSON keys in field order: "projectId" (upper-case UUID), "branch" ("--" when unknown), "ahead",
// "behind", "staged", "unstaged", "untracked" (arrays of {"path", "status"}), "pending" (the three
// lengths summed). Paths are unquoted: what the file system calls them.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Json.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

struct GitStatusPayload {
    struct File {
        std::string path;
        std::string status;  // the two porcelain letters, or "?" for an untracked file

        friend bool operator==(const File&, const File&) = default;
    };

    std::string projectId;
    std::string branch = "--";
    std::int64_t ahead = 0;
    std::int64_t behind = 0;
    std::vector<File> staged;
    std::vector<File> unstaged;
    std::vector<File> untracked;
    std::int64_t pending = 0;

    // The status sent after a failed refresh.
    static GitStatusPayload placeholder(const Uuid& projectId);

    Json toJson() const;
    friend bool operator==(const GitStatusPayload&, const GitStatusPayload&) = default;
};

}  // namespace pelko
