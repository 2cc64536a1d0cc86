#pragma once
// GitService: the one object through which the page drives Git.
//
// Every entry point is called on the main thread and returns at once. It first looks the project up in
// the configuration (the active one for a status request without one); a project nobody configured
// gets no sequence, thread or map entry, only the answers owed without one (a blank commit message, the
// branch map's error, a barrier). Otherwise the work is queued, with the project's metadata and a weak
// reference to the service, on the project's serial sequence over a shared worker pool (commit history
// excepted): one project's operations run one at a time in the order they were requested, while
// projects never wait for one another (a stalled remote holds one worker and its own project). A
// project's sequence exists only while it has work; threads are at most the projects with work plus a
// few idle ones, and workers never wait for the main thread. A request no worker can be started for
// keeps nothing and is answered as failed ("git/result" false, with the status placeholder or as the
// branch map's error where those are the answer). A refresh barrier, whatever project it names, puts a
// marker, in one locked step with the work it orders, on the sequence of every project with work
// outstanding, and is answered once all of those have run; barriers are answered in the order asked,
// and a barrier waits for a stalled project but holds up no sequence. The status refresh that a
// finished commit, push, pull or fetch queues waits behind every barrier not yet answered (held back
// while the project's other work goes on), and a barrier asked for later waits for it. Every result,
// failure and sign-in consequence is reported through the event sink, held weakly and called from the
// worker that produced the event, or through the main queue for answers given when a request is made
// (so they never overtake earlier ones); nothing is sent while there is none. `shutdown` ends it all in
// order: no new work, every git child stopped, workers joined. `git` runs with the process's
// environment and GIT_TERMINAL_PROMPT=0; a commit message goes on its standard input. Push, pull and
// fetch name the remote git itself would pick, as git reports it (never from our own reading of the
// repository's files), and get the signed-in token through the credential broker only when every URL
// git reports for it has GitHub's scheme, host (or a subdomain) and port; such a run sees no
// credential helper but the broker's and no submodule. A token is deleted only when GitHub refused it
// (git erased the credential the broker gave that run; nothing git, a hook or a commit prints counts)
// and only while it is still the stored one. Push, pull and fetch end when the remote sends nothing for
// `networkSilenceLimit` or the run outlasts `networkOverallLimit`. Page paths never reach `git` unless they
// stay inside the project, and reach it only as literal paths; page revisions never start with "-". A diff
// request identical to one still waiting on its queue, with no other work queued after it, joins it: one run,
// one answer. A diff holds and sends at most `diffFileLimit` bytes of patch per file and `diffAnswerLimit`
// per answer; a larger file is answered as git answers a binary one. The service never throws to its
// callers and never stops before `shutdown`.
//
// Commit history runs on the concurrent queue "app.pelko.git-service.history", so history requests
// may overlap one another and the project sequences' work, and are not ordered with barriers; the
// branch map and the commit graph hold their project's sequence for their whole series of git runs or
// their GraphQL request.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
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
#include "platform/SequencedWorkerPool.hpp"

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
        // How the project sequences' workers are started (null: std::thread).
        SequencedWorkerPool::ThreadStarter startThread;
        // What the once-a-second notice of a missing remote is timed by (null: the steady clock).
        std::function<std::chrono::steady_clock::time_point()> clock;
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

    // Blocks until no project has work outstanding and every barrier is answered, and, called off the
    // main thread, until the main queue has run what was handed to it before; or until `shutdown` has
    // ended it, and at once after that (tests and benchmarks; never at the same time as `shutdown`).
    void waitUntilIdle();
    // Projects with work queued, running or held back (tests and benchmarks).
    std::size_t projectsWithWork() const;

    // Stops taking requests, stops every git child (the process runner's), drops work not yet started,
    // waits for the workers and the history queue; called on the main thread before the process ends.
    // Afterwards every request is ignored.
    void shutdown() override;

  private:
    enum class OutputMode { patch, numstat };
    struct Project {
        ProjectMetadata metadata;
        Uuid id;
    };
    using Work = std::function<void(GitService&, const Project&)>;
    // How a request that no worker could take is answered.
    enum class Refusal { result, statusWithPlaceholder, branchMapError };
    // One closure of a project's sequence, and what answers for it when it cannot be queued.
    struct Job {
        std::function<void(GitService&)> run;
        std::function<void(GitService&, const std::string& reason)> refused;
    };
    struct RefusedJob {
        Job job;
        std::string reason;
    };

    // Request side (the calling, main thread): resolves the project and queues `work` on its sequence
    // with the project in hand; false, with nothing queued or kept, for a project nobody configured.
    // A merge key makes an identical request still waiting (with nothing but diffs queued after it)
    // answer for this one too.
    bool enqueue(const std::optional<Uuid>& projectID, Refusal refusal, std::string commandDescription,
                 Work work, std::optional<std::string> mergeKey = std::nullopt);
    Job refusedAs(Refusal refusal, std::string commandDescription, const Project& project, Work work);
    // Worker side: the status refresh a finished commit, push, pull or fetch asks for. It waits behind
    // every barrier not yet answered (held back, never holding the project's other work).
    void queueFollowUpRefresh(const Project& project);

    // Under `workMutex_`: posts to the project's sequence, counting it as outstanding.
    std::error_code postLocked(const Uuid& projectID, Job& job);
    // Under `workMutex_`: answers every barrier whose markers have all run, in order, then lets held
    // work go that no longer waits for a barrier; jobs no worker could take are handed back.
    void answerReachedLocked(std::vector<RefusedJob>& refused);
    void releaseHeldLocked(std::vector<RefusedJob>& refused);
    void workFinished(const Uuid& projectID);
    void runRefused(std::vector<RefusedJob>& refused);
    // Hands one event to the sink, when there is one.
    void send(const std::function<void(GitServiceEventSink&)>& event) const;
    // Hands one event to the sink from the main queue, behind every event a worker handed over before.
    void sendLater(std::function<void(GitServiceEventSink&)> event) const;

    // Shared machinery (GitService.cpp).
    // The project (the active one without an identifier), read on the calling thread: the main thread,
    // where the configuration lives.
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
    // A local, unauthenticated run with `input` on git's standard input.
    GitResult<std::string> runGitWithInput(const std::vector<std::string>& arguments,
                                           const ProjectMetadata& project, const std::string& input);
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
    // Whether the configuration adds headers of its own (an Authorization, say) to git's requests:
    // then a refusal may be of those, not of our token.
    bool addsHeadersOfItsOwn(const ProjectMetadata& project);
    // Whether git will check each URL's certificate, and whether where git connects for the remote
    // and whom it trusts there are left to the user's and the system's configuration (or git's
    // defaults): the authorities, the address GitHub's name resolves to, the proxy and its
    // authorities. A repository that decides any of them (in its own, its worktree's or an included
    // file) could send git, and the token, to a server of its choosing.
    bool connectionLeftToUser(const Remote& remote, const ProjectMetadata& project);

    // Status, commit, push, pull, fetch, status detail (GitServiceStatus.cpp).
    void runRefreshStatus(const Project& project);
    void runCommit(const Project& project, const std::string& message);
    void runRemoteOperation(const Project& project, const std::vector<std::string>& arguments,
                            const std::string& operation, const std::string& commandDescription,
                            const std::string& successText);
    void runStatusDetail(const Project& project);
    void runRemoteTracking(const Project& project);  // GitServiceRemoteTracking.cpp

    // Diffs (GitServiceDiffs.cpp).
    void runDiff(const Project& project, const std::vector<GitDiffTarget>& targets);
    // `budget`: patch bytes the answer may still hold; what this file's patch takes is deducted.
    std::optional<GitDiffFilePayload> buildDiffPayload(const GitDiffTarget& target, const Project& project,
                                                       std::size_t& budget);
    bool isUntrackedFile(const std::string& path, const ProjectMetadata& project);
    std::optional<GitDiffFilePayload> buildDiffPayloadForUntracked(const GitDiffTarget& target,
                                                                   const Project& project,
                                                                   std::size_t& budget);
    static std::vector<std::string> diffArguments(const GitDiffTarget& target, OutputMode mode,
                                                  bool text = true);
    void runCommitDiff(const Project& project, const std::string& commit,
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
    void runWorkingTree(const Project& project);

    // Commit history, commit graph and branch map (GitServiceCommitHistory.cpp, GitServiceCommitGraph.cpp,
    // GitServiceBranchMap.cpp).
    void runCommitHistory(const Project& project, const std::optional<std::string>& cursor,
                          std::int64_t pageSize, const std::optional<std::string>& requestId,
                          bool allowFiles);
    void runCommitGraph(const Project& project, std::int64_t pageSize);
    void runBranchMap(const Project& project, std::int64_t limit);
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
    // Guards the sets below, which every worker uses.
    mutable std::mutex projectSetsMutex_;
    // Projects told "no remote", with when: within a second of it they are not told again. Entries
    // older than that are swept whenever one is added or a project's work ends.
    std::map<Uuid, std::chrono::steady_clock::time_point> missingRemoteProjects_;
    bool isMissingRemote(const Uuid& projectId) const;
    void clearMissingRemote(const Uuid& projectId);
    // A failed run whose answer is the missing-remote notice.
    static bool meansMissingRemote(const GitError& error, const std::string& commandDescription);
    void sweepMissingRemotes();
    std::chrono::steady_clock::time_point now() const;

    // What one project with work queued, running or held back has; no entry once it has none, so the
    // map holds only projects with outstanding work (configured ones: requests are resolved first).
    struct HeldJob {
        std::uint64_t gate = 0;  // the last barrier that must be answered first; 0: just follows
        Job job;
    };
    struct ProjectWork {
        std::uint64_t outstanding = 0;  // posted and not finished, or held
        // Work other than diffs queued (barrier markers too), and the diff requests queued and not yet
        // started, each with that count when it was queued.
        std::uint64_t changes = 0;
        std::map<std::string, std::uint64_t> pendingDiffs;
        std::deque<HeldJob> held;
    };
    // Refresh barriers not yet answered, by the order they were asked for, each with the number of its
    // markers still to run.
    struct PendingBarrier {
        GitRefreshBarrierPayload payload;
        std::size_t waiting = 0;
    };
    // One lock for the work, the markers that order it and the barriers, so a marker and the work it
    // orders are queued in one step.
    mutable std::mutex workMutex_;
    std::condition_variable workIdle_;
    std::map<Uuid, ProjectWork> work_;
    std::uint64_t nextBarrier_ = 1;
    std::map<std::uint64_t, PendingBarrier> pendingBarriers_;
    std::atomic<bool> stopping_ = false;
    // One of a barrier's markers ran; the last one answers it and any reached behind it.
    void barrierMarkerRan(std::uint64_t sequence);

    std::shared_ptr<GitLocalHistoryProviding> localHistoryProvider_;
    std::shared_ptr<GitBranchMapProviding> branchMapProvider_;
    // Per-project paging state and the files-field flag of the commit history.
    GitCommitHistoryPager historyPager_;
    // Projects whose GitHub answer had no data or could not be decoded. Only grows.
    std::set<Uuid> commitGraphUnavailableProjects_;

    // Last: destroyed first, so queued work never outlives the fields it uses.
    std::unique_ptr<ConcurrentQueue> historyQueue_;
    // One serial sequence per project with outstanding work, named by its identifier.
    std::unique_ptr<SequencedWorkerPool> pool_;
};

}  // namespace pelko
