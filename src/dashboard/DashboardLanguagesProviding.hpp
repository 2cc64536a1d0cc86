#pragma once
// DashboardLanguagesProviding: a project's languages as GitHub counts them (language name to bytes,
// never negative).
//
// `fetchLanguages` blocks its caller (it may run `git` and send one HTTPS request) and is called from
// several threads at once. An empty map means "nothing to say" (no token, repository not found); any
// other failure throws std::exception, whose `what()` describes it without tokens or bodies.
#include <cstdint>
#include <map>
#include <string>

#include "config/ProjectMetadata.hpp"

namespace pelko {

using LanguageByteCounts = std::map<std::string, std::int64_t>;

class DashboardLanguagesProviding {
  public:
    virtual ~DashboardLanguagesProviding() = default;
    virtual LanguageByteCounts fetchLanguages(const ProjectMetadata& project) = 0;
};

}  // namespace pelko
