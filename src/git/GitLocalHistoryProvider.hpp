#pragma once
// GitLocalHistoryProvider: reads local history pages with `git rev-list --count` and `git log
// --numstat` in the project folder. No mutable state: safe from several threads at once; each call
// blocks while its git processes run. Never contacts a remote (no token, prompts disabled). A page's
// log is read up to `defaultLogOutputLimit` bytes (a commit may touch millions of files): a page cut
// there ends with its last whole commit, and lists fewer commits than asked, so the next page starts
// with the one that did not fit; a first commit that does not fit alone keeps the files that do.
#include <cstddef>
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
    // Most bytes of `git log` output read for one page; the page goes to the web page as one event.
    static constexpr std::size_t defaultLogOutputLimit = std::size_t{8} * 1024 * 1024;

    // `environment` is what every git run starts from (the process environment by default);
    // `logOutputLimit` replaces `defaultLogOutputLimit` (tests reach it with small histories).
    explicit GitLocalHistoryProvider(std::shared_ptr<GitProcessRunning> processRunner,
                                     Environment::Map environment = Environment::process().all(),
                                     std::size_t logOutputLimit = defaultLogOutputLimit);

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
    // separator at the beginning of a line, so a subject holding one cannot split a commit. `cut`: the
    // output stopped at the size limit, anywhere; its last record is left out and not counted, unless
    // it is the first, which keeps its whole lines and counts.
    static ParsedLog parseLogRecords(std::string_view output, bool cut = false);

  private:
    std::shared_ptr<GitProcessRunning> processRunner_;
    Environment::Map environment_;
    std::size_t logOutputLimit_;
    SystemLogger logger_{"app.pelko.git", "git-local-history"};
};

}  // namespace pelko
