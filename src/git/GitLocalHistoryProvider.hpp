#pragma once
// GitLocalHistoryProvider: reads local history pages with `git rev-list --count` and `git log
// --numstat` in the project folder. No mutable state: safe from several threads at once; each call
// blocks while its git processes run. Never contacts a remote (no token, prompts disabled).
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "git/GitLocalHistoryProviding.hpp"
#include "git/GitProcessRunning.hpp"
#include "platform/Environment.hpp"
#include "platform/SystemLogger.hpp"

namespace pelko {

class GitLocalHistoryProvider final : public GitLocalHistoryProviding {
  public:
    // `environment` is what every git run starts from (the process environment by default).
    explicit GitLocalHistoryProvider(std::shared_ptr<GitProcessRunning> processRunner,
                                     Environment::Map environment = Environment::process().all());

    GitLocalHistoryPage loadUnpushedHistory(const ProjectMetadata& metadata, std::int64_t offset,
                                            std::int64_t limit) override;
    GitLocalHistoryPage loadHistory(const ProjectMetadata& metadata, std::int64_t offset,
                                    std::int64_t limit) override;
    GitLocalHistoryPage loadHistory(const ProjectMetadata& metadata, std::int64_t offset, std::int64_t limit,
                                    bool includeUpstreamCommits);

    struct ParsedLog {
        std::vector<GitCommitEdgePayload> edges;
        std::int64_t listedCount = 0;
    };
    // The records of `git log` in the format this provider asks for; a record starts at a record
    // separator at the beginning of a line, so a subject holding one cannot split a commit.
    static ParsedLog parseLogRecords(std::string_view output);

  private:
    std::shared_ptr<GitProcessRunning> processRunner_;
    Environment::Map environment_;
    SystemLogger logger_{"app.pelko.git", "git-local-history"};
};

}  // namespace pelko
