// GitService: the commit graph. Not built yet: the request is accepted and answered with nothing.
#include "git/GitService.hpp"

namespace pelko {

void GitService::fetchCommitGraph(const Uuid&, std::int64_t) {}

}  // namespace pelko
