#pragma once
// GitService: the one object through which the page drives Git.
//
// Every entry point returns at once after queueing its work, with a weak reference to the service,
// on the serial queue of its project ("app.pelko.git-service.<id>", made on first use; commit
// history excepted): one project's operations run one at a time in the order they were requested,
// while projects never wait for one another (a stalled remote holds up only its own project). A
// status request without a project takes the project active at the time of asking. A refresh
// barrier, whatever project it names, is answered once every queue has run all the work queued
// before it, and barriers are answered in the order they were asked for; a barrier waits for a
// stalled project but holds up no queue. Project lookups hop synchronously to the main thread (the
// configuration store lives there), so the main thread must never wait for these queues. Every
// result, failure and sign-in consequence is reported through the event sink, held weakly and
// called from the queue that produced the event; nothing is sent while there is none. `git` runs
// with the process's environment and GIT_TERMINAL_PROMPT=0. Push, pull and fetch name the remote git
// itself would pick, as git reports it (never from our own reading of the repository's files), and
// get the signed-in token through the credential broker only when every URL git reports for it has
// GitHub's scheme, host (or a subdomain) and port; such a run sees no credential helper but the
// broker's and no submodule. A token is deleted only when GitHub refused it (git erased the
// credential the broker gave that run; nothing git, a hook or a commit prints counts) and only while
// it is still the stored one.
// Push, pull and fetch end when the remote sends nothing for `networkSilenceLimit` or the run
// outlasts `networkOverallLimit`. Page paths never reach `git` unless they stay inside the project,
// and reach it only as literal paths; page revisions never start with "-". A diff request identical
// to one still waiting on its queue, with no other work queued after it, joins it: one run, one
// answer. A diff holds and sends at most `diffFileLimit` bytes of patch per file and `diffAnswerLimit`
// per answer; a larger file is answered as git answers a binary one. The service never throws to its
// callers and never stops.
//
// Commit history runs on the concurrent queue "app.pelko.git-service.history", so history requests
// may overlap one another and the project queues' work; the branch map and the commit graph hold
// their project's queue for their whole series of git runs or their GraphQL request.
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "config/GitProjectProviding.hpp"
#include "git/GitBranchMapProviding.hpp"
#include "git/GitCommitDiffPayload.hpp"
#include "git/GitCommitHistoryPager.hpp"
#include "git/GitCredentialBroking.hpp"
#include "git/GitDiffPayload.hpp"
#include "git/GitError.hpp"
#include "git/GitHubWebOrigin.hpp"
#include "git/GitLocalHistoryProviding.hpp"
#include "git/GitProcessRunning.hpp"
#include "git/GitRefreshBarrierPayload.hpp"
#include "git/GitRemoteURL.hpp"
#include "git/GitResult.hpp"
#include "git/GitServiceEventSink.hpp"
#include "git/GitServicing.hpp"
#include "git/GitStatusDetailMapper.hpp"
#include "git/GitStatusPayload.hpp"
#include "git/GitWorkingTreeParser.hpp"
#include "github/GitAuthProviding.hpp"
#include "github/GitHubGraphQLClient.hpp"
#include "platform/ConcurrentQueue.hpp"
#include "platform/Environment.hpp"
#include "platform/SerialQueue.hpp"

namespace pelko {

class GitService final : public GitServicing, public std::enable_shared_from_this<GitService> {
  public:
    struct Options {
        // GitHub's web address: its host names GitHub repositories, and the token goes only to URLs of
        // its scheme, host (or a subdomain of it) and port.
        std::string gitHubWebBase = "https://github.com";
        // What every `git` run starts from.
        Environment::Map environment = Environment::process().all();
        // Null: one over the service's process runner.
        std::shared_ptr<GitLocalHistoryProviding> localHistoryProvider;
        std::shared_ptr<GitBranchMapProviding> branchMapProvider;
        // Push, pull and fetch fail when the remote sends nothing for this long, or run longer.
        std::chrono::milliseconds networkSilenceLimit = std::chrono::seconds(60);
        std::chrono::milliseconds networkOverallLimit = std::chrono::minutes(30);
    };

    GitService(std::shared_ptr<GitProjectProviding> configProvider,
               std::shared_ptr<GitAuthProviding> authProvider,
               std::shared_ptr<GitCredentialBroking> credentialBroker,
               std::shared_ptr<GitProcessRunning> processRunner,
               std::shared_ptr<GitHubGraphQLClient> graphQLClient, Options options);
    ~GitService() override;

    // GitServicing
    void setEventSink(std::weak_ptr<GitServiceEventSink> sink) override;
    void refreshStatus(const std::optional<Uuid>& projectID) override;
    void fetchStatusDetail(const Uuid& projectID) override;
    void commit(const Uuid& projectID, const std::string& message) override;
    void push(const Uuid& projectID) override;
    void pull(const Uuid& projectID) override;
    void fetch(const Uuid& projectID) override;
    void fetchDiff(const Uuid& projectID, const std::vector<GitDiffTarget>& targets) override;
    void fetchCommitDiff(const Uuid& projectID, const std::string& commit,
                         const std::optional<std::string>& path) override;
    void fetchWorkingTree(const Uuid& projectID) override;
    void fetchBranchMap(const Uuid& projectID, std::int64_t limit) override;
    void fetchCommitHistory(const Uuid& projectID, const std::optional<std::string>& cursor,
                            std::int64_t pageSize, const std::optional<std::string>& requestId) override;
    void fetchCommitGraph(const Uuid& projectID, std::int64_t pageSize) override;
    void fetchRemoteTracking(const Uuid& projectID) override;
    void reachRefreshBarrier(const Uuid& projectID, const std::string& requestId) override;

    // The status porcelain (v1 with the branch line) as the "git/status" record; paths unquoted.
    static GitStatusPayload parseStatus(const std::string& output, const Uuid& projectId);
    // Sums `--numstat` lines; a "-" count makes the diff binary.
    struct Numstat {
        std::int64_t additions = 0;
        std::int64_t deletions = 0;
        bool isBinary = false;
    };
    static Numstat parseNumstat(const std::string& output);
    // "src/{old => new}/a.txt" -> "src/new/a.txt"; "old => new" -> "new".
    static std::string normalizeRenamedPath(const std::string& path);

    // The first fetch URL of the preferred remote, else of origin, the branch's remote or the push
    // default, as git rewrites it; on the service's queues.
    std::optional<std::string> remoteURL(const ProjectMetadata& project,
                                         const std::optional<std::string>& preferredRemote = std::nullopt);
    std::optional<RepositoryCoordinates> parseGitHubRemoteURL(const std::string& text) const;

    // Patch bytes sent (as the page's JSON has them, escapes counted) for one file, and for one answer.
    static constexpr std::size_t diffFileLimit = std::size_t{4} << 20;
    static constexpr std::size_t diffAnswerLimit = std::size_t{16} << 20;

    // Blocks until the queues have run everything queued before this call, barriers answered (tests
    // and benchmarks; never on the main thread while a queue waits for it).
    void waitUntilIdle();

  private:
    enum class OutputMode { patch, numstat };
    struct Project {
        ProjectMetadata metadata;
        Uuid id;
    };

    // Queues `work` on the project's serial queue with a weak reference to the service.
    void enqueue(const Uuid& projectID, std::function<void(GitService&)> work);
    SerialQueue& projectQueue(const Uuid& projectID);
    // Hands one event to the sink, when there is one.
    void send(const std::function<void(GitServiceEventSink&)>& event) const;

    // Shared machinery (GitService.cpp).
    std::optional<Project> metadata(const std::optional<Uuid>& projectID) const;
    std::filesystem::path folder(const ProjectMetadata& project) const;
    Environment::Map baseEnvironment(bool readOnly) const;
    // With `requiresAuth` (only for a remote whose every URL is GitHub's) git gets the token through
    // the credential broker's helper, no other credential helper and no submodule run.
    GitResult<std::string> runGit(const std::vector<std::string>& arguments, const ProjectMetadata& project,
                                  bool requiresAuth, bool readOnly = false, bool network = false);
    struct BoundedOutput {
        std::string text;
        bool overLimit = false;
    };
    // A read-only run whose standard output over `maxStdout` ends it (`overLimit`, text cut there).
    GitResult<BoundedOutput> runGitBounded(const std::vector<std::string>& arguments,
                                           const ProjectMetadata& project, std::size_t maxStdout);
    bool ensureAuthenticated(const std::string& operation, bool suppressError);
    void handleGitError(const GitError& error, const std::string& commandDescription,
                        const std::optional<Uuid>& projectId);
    void notifyMissingRemoteIfNeeded(const Uuid& projectId);
    static std::optional<std::string> friendlyMessageForGitCommandFailure(
        const std::string& commandDescription, const std::string& reason);
    // Whether GitHub refused the token of this authenticated run, as git itself tells the broker.
    bool isAuthenticationFailure(const GitCredentialRun& run, const ProjectMetadata& project);
    static std::optional<GitOAuthAccountPayload> accountPayload(
        const std::optional<OAuthTokenRecord>& record);

    // Remotes (GitServiceRemotes.cpp), all asked of git.
    struct Remote {
        std::string name;
        std::vector<std::string> urls;  // every URL git will contact for it
    };
    std::optional<std::string> configValue(const std::string& key, const ProjectMetadata& project);
    std::optional<std::string> currentBranch(const ProjectMetadata& project);
    // The remote git picks: for a push branch.<b>.pushRemote, remote.pushDefault, then as for a fetch:
    // branch.<b>.remote, the only remote, "origin".
    std::optional<std::string> remoteName(const ProjectMetadata& project, bool forPush);
    // Empty when git knows no such remote, or the name would read as an option.
    std::vector<std::string> remoteURLs(const std::string& name, const ProjectMetadata& project,
                                        bool forPush);
    std::optional<Remote> remoteToContact(const ProjectMetadata& project, bool forPush);
    // Whether every URL of the remote is GitHub's.
    bool isGitHubOnly(const Remote& remote) const;
    // Whether git will check each URL's certificate against the usual authorities: a repository that
    // turns the check off, or names authorities of its own, could hand the token to whoever sits
    // between (its proxy, say). The user's own settings for authorities stand.
    // Whether the configuration adds headers of its own (an Authorization, say) to git's requests:
    // then a refusal may be of those, not of our token.
    bool addsHeadersOfItsOwn(const ProjectMetadata& project);
    bool certificatesChecked(const Remote& remote, const ProjectMetadata& project);

    // Status, commit, push, pull, fetch, status detail (GitServiceStatus.cpp).
    void runRefreshStatus(const std::optional<Uuid>& projectID);
    void runCommit(const Uuid& projectID, const std::string& message);
    void runRemoteOperation(const Uuid& projectID, const std::vector<std::string>& arguments,
                            const std::string& operation, const std::string& commandDescription,
                            const std::string& successText);
    void runStatusDetail(const Uuid& projectID);
    void runRemoteTracking(const Uuid& projectID);  // GitServiceRemoteTracking.cpp

    // Diffs (GitServiceDiffs.cpp).
    // Queues `work` unless work under the same key waits on the queue still, with nothing but diffs
    // queued after it (that work then answers for both).
    void enqueueMerged(const Uuid& projectID, std::string key, std::function<void(GitService&)> work);
    void runDiff(const Uuid& projectID, const std::vector<GitDiffTarget>& targets);
    // `budget`: patch bytes the answer may still hold; what this file's patch takes is deducted.
    std::optional<GitDiffFilePayload> buildDiffPayload(const GitDiffTarget& target, const Project& project,
                                                       std::size_t& budget);
    bool isUntrackedFile(const std::string& path, const ProjectMetadata& project);
    std::optional<GitDiffFilePayload> buildDiffPayloadForUntracked(const GitDiffTarget& target,
                                                                   const Project& project,
                                                                   std::size_t& budget);
    static std::vector<std::string> diffArguments(const GitDiffTarget& target, OutputMode mode,
                                                  bool text = true);
    void runCommitDiff(const Uuid& projectID, const std::string& commit,
                       const std::optional<std::string>& path);
    std::vector<GitCommitDiffFilePayload> buildCommitDiffSummary(const std::string& commit,
                                                                 const Project& project);
    std::optional<GitCommitDiffFilePayload> buildCommitDiffPayload(const std::string& commit,
                                                                   const std::optional<std::string>& path,
                                                                   const Project& project);
    std::optional<std::int64_t> commitParentCount(const std::string& commit, const Project& project);
    static std::vector<std::string> commitDiffArguments(const std::string& commit, OutputMode mode,
                                                        const std::optional<std::string>& path,
                                                        std::int64_t parentCount);
    static std::vector<std::string> mergeCommitPatchArguments(const std::string& commit,
                                                              const std::optional<std::string>& path);
    // The page's path normalised by the one page-path rule, or nullopt when it is refused (absolute,
    // NUL, climbing above the project).
    static std::optional<std::string> pagePath(const std::string& path);

    // Working tree (GitServiceWorkingTree.cpp).
    void runWorkingTree(const Uuid& projectID);

    // Commit history, commit graph and branch map (GitServiceCommitHistory.cpp, GitServiceCommitGraph.cpp,
    // GitServiceBranchMap.cpp).
    void runCommitHistory(const Uuid& projectID, const std::optional<std::string>& cursor,
                          std::int64_t pageSize, const std::optional<std::string>& requestId,
                          bool allowFiles);
    void runCommitGraph(const Uuid& projectID, std::int64_t pageSize);
    void runBranchMap(const Uuid& projectID, std::int64_t limit);
    // The stored token and the GitHub repository of the project's remote; nullopt when either is missing.
    std::optional<GitCommitHistoryPager::RemoteAccess> gitHubAccess(const ProjectMetadata& project);
    // GitHub refused `accessToken`: deletes it and tells the page, unless another token was stored since.
    void revokeRejectedToken(const std::string& accessToken);

    std::shared_ptr<GitProjectProviding> configProvider_;
    std::shared_ptr<GitAuthProviding> authProvider_;
    std::shared_ptr<GitCredentialBroking> credentialBroker_;
    std::shared_ptr<GitProcessRunning> processRunner_;
    std::shared_ptr<GitHubGraphQLClient> graphQLClient_;
    Options options_;
    std::string gitHubHost_;
    // Nullopt when the configured address is not a plain http(s) one: then no run gets the token.
    std::optional<GitHubWebOrigin> gitHubOrigin_;

    mutable std::mutex sinkMutex_;
    std::weak_ptr<GitServiceEventSink> eventSink_;

    GitStatusDetailMapper statusMapper_;
    GitWorkingTreeParser workingTreeParser_;
    // Guards the sets below, which every project queue uses.
    mutable std::mutex projectSetsMutex_;
    // Projects told "no remote" within the last second.
    std::set<Uuid> missingRemoteProjects_;
    // How much work other than diffs each project's queue was given, and the diff requests queued and
    // not yet started, each with that count when it was queued.
    std::map<Uuid, std::uint64_t> queuedWork_;
    std::map<std::string, std::uint64_t> pendingDiffs_;
    bool isMissingRemote(const Uuid& projectId) const;
    void clearMissingRemote(const Uuid& projectId);

    // Refresh barriers not yet answered, by the order they were asked for, each with the number of its
    // queue markers still to run.
    struct PendingBarrier {
        GitRefreshBarrierPayload payload;
        std::size_t waiting = 0;
    };
    std::mutex barriersMutex_;
    std::uint64_t nextBarrier_ = 0;
    std::map<std::uint64_t, PendingBarrier> pendingBarriers_;
    // One of a barrier's markers ran on its queue; the last one answers it and any reached behind it.
    void barrierMarkerRan(std::uint64_t sequence);

    std::shared_ptr<GitLocalHistoryProviding> localHistoryProvider_;
    std::shared_ptr<GitBranchMapProviding> branchMapProvider_;
    // Per-project paging state and the files-field flag of the commit history.
    GitCommitHistoryPager historyPager_;
    // Projects whose GitHub answer had no data or could not be decoded. Only grows.
    std::set<Uuid> commitGraphUnavailableProjects_;

    // Last: destroyed first, so queued work never outlives the fields it uses.
    std::unique_ptr<ConcurrentQueue> historyQueue_;
    // The service queue: every barrier puts a marker on it too (the only one while no project has a
    // queue).
    std::unique_ptr<SerialQueue> queue_;
    std::mutex projectQueuesMutex_;
    std::map<Uuid, std::unique_ptr<SerialQueue>> projectQueues_;
};

}  // namespace pelko
