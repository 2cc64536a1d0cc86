// GitService: the commit history. Not built yet: the request is accepted and answered with nothing.
#include "git/GitService.hpp"

namespace pelko {

void GitService::fetchCommitHistory(const Uuid&, const std::optional<std::string>&, std::int64_t,
                                    const std::optional<std::string>&) {}

}  // namespace pelko
