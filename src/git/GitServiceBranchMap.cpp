// GitService: the branch map. Not built yet: the request is accepted and answered with nothing.
#include "git/GitService.hpp"

namespace pelko {

void GitService::fetchBranchMap(const Uuid&, std::int64_t) {}

}  // namespace pelko
