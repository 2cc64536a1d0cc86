#pragma once
// GitHubUser: the signed-in account as GitHub's user lookup reports it. Plain value.
#include <optional>
#include <string>

namespace pelko {

struct GitHubUser {
    std::string login;
    std::optional<std::string> avatarURL;
};

}  // namespace pelko
