#include "git/GitService.hpp"

#include <algorithm>
#include <chrono>
#include <exception>

#include "git/GitBranchMapProvider.hpp"
#include "git/GitLocalHistoryProvider.hpp"
#include "git/GitOutputText.hpp"
#include "platform/MainQueue.hpp"
#include "platform/XdgFolders.hpp"

namespace pelko {

namespace {

constexpr const char* missingRemoteText = "リモートリポジトリがないプロジェクトです";

std::vector<std::string> gitCommand(const std::vector<std::string>& arguments) {
    std::vector<std::string> command{"git"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

}  // namespace

GitService::GitService(std::shared_ptr<GitProjectProviding> configProvider,
                       std::shared_ptr<GitAuthProviding> authProvider,
                       std::shared_ptr<GitCredentialBroking> credentialBroker,
                       std::shared_ptr<GitProcessRunning> processRunner,
                       std::shared_ptr<GitHubGraphQLClient> graphQLClient, Options options)
    : configProvider_(std::move(configProvider)),
      authProvider_(std::move(authProvider)),
      credentialBroker_(std::move(credentialBroker)),
      processRunner_(std::move(processRunner)),
      graphQLClient_(std::move(graphQLClient)),
      options_(std::move(options)),
      gitHubHost_(GitRemoteURL::hostOf(options_.gitHubWebBase)),
      gitHubOrigin_(GitHubWebOrigin::fromBase(options_.gitHubWebBase)),
      localHistoryProvider_(options_.localHistoryProvider ? options_.localHistoryProvider
                                                          : std::make_shared<GitLocalHistoryProvider>(
                                                                processRunner_, options_.environment)),
      branchMapProvider_(options_.branchMapProvider
                             ? options_.branchMapProvider
                             : std::make_shared<GitBranchMapProvider>(processRunner_, options_.environment)),
      historyPager_(localHistoryProvider_, graphQLClient_),
      historyQueue_(std::make_unique<ConcurrentQueue>("app.pelko.git-service.history", 4)),
      pool_(std::make_unique<SequencedWorkerPool>(SequencedWorkerPool::Options{
          .label = "app.pelko.git-service", .startThread = options_.startThread})) {}

GitService::~GitService() {
    stopping_ = true;
    pool_->shutdown();
}

void GitService::setEventSink(std::weak_ptr<GitServiceEventSink> sink) {
    std::lock_guard lock(sinkMutex_);
    eventSink_ = std::move(sink);
}

void GitService::send(const std::function<void(GitServiceEventSink&)>& event) const {
    std::shared_ptr<GitServiceEventSink> sink;
    {
        std::lock_guard lock(sinkMutex_);
        sink = eventSink_.lock();
    }
    if (sink) event(*sink);
}

std::optional<GitService::Project> GitService::metadata(const std::optional<Uuid>& projectID) const {
    std::optional<Uuid> id = projectID;
    if (!id) id = configProvider_->config().activeProjectID;
    if (!id) return std::nullopt;
    auto project = configProvider_->project(*id);
    if (!project) return std::nullopt;
    return Project{std::move(*project), *id};
}

void GitService::sendLater(std::function<void(GitServiceEventSink&)> event) const {
    MainQueue::shared().async([weak = weak_from_this(), event = std::move(event)] {
        if (auto self = weak.lock()) self->send(event);
    });
}

GitService::Job GitService::refusedAs(Refusal refusal, std::string commandDescription, const Project& project,
                                      Work work) {
    Job job;
    job.run = [project, work = std::move(work)](GitService& self) { work(self, project); };
    job.refused = [refusal, commandDescription = std::move(commandDescription), id = project.id](
                      GitService& self, const std::string& reason) {
        std::string message = commandDescription + " の起動に失敗: " + reason;
        self.sendLater([refusal, message, id](GitServiceEventSink& sink) {
            if (refusal == Refusal::branchMapError) {
                sink.gitServiceDidFailBranchMap({id.string(), message});
                return;
            }
            sink.gitServiceDidFail(message);
            if (refusal == Refusal::statusWithPlaceholder)
                sink.gitServiceDidUpdateStatus(GitStatusPayload::placeholder(id));
        });
    };
    return job;
}

std::error_code GitService::postLocked(const Uuid& projectID, Job& job) {
    auto code = pool_->post(projectID.string(), [weak = weak_from_this(), projectID, run = job.run] {
        auto self = weak.lock();
        if (!self) return;
        if (!self->stopping_) run(*self);
        self->workFinished(projectID);
    });
    if (!code) ++work_[projectID].outstanding;
    return code;
}

void GitService::workFinished(const Uuid& projectID) {
    bool ended = false;
    {
        std::lock_guard lock(workMutex_);
        auto entry = work_.find(projectID);
        if (entry != work_.end() && --entry->second.outstanding == 0) {
            work_.erase(entry);
            ended = true;
        }
        if (work_.empty()) workIdle_.notify_all();
    }
    if (ended) sweepMissingRemotes();
}

void GitService::runRefused(std::vector<RefusedJob>& refused) {
    // At the end nothing is answered any more: the pool refuses because it has stopped.
    if (!stopping_) {
        for (auto& [job, reason] : refused) job.refused(*this, reason);
    }
    refused.clear();
}

bool GitService::enqueue(const std::optional<Uuid>& projectID, Refusal refusal,
                         std::string commandDescription, Work work, std::optional<std::string> mergeKey) {
    if (stopping_) return true;
    auto project = metadata(projectID);
    if (!project) return false;
    const Uuid id = project->id;
    Job job = refusedAs(refusal, std::move(commandDescription), *project, std::move(work));
    std::vector<RefusedJob> refused;
    {
        std::lock_guard lock(workMutex_);
        auto& entry = work_[id];
        std::optional<std::uint64_t> sequence;
        if (mergeKey) {
            // Joins only work with nothing but diffs queued after it: its run then answers for both from a
            // tree at least as new as this request's (a commit queued in between would make it stale).
            // Diffs change nothing, so they are not counted.
            if (auto pending = entry.pendingDiffs.find(*mergeKey);
                pending != entry.pendingDiffs.end() && pending->second == entry.changes) {
                return true;
            }
            sequence = entry.changes;
            entry.pendingDiffs[*mergeKey] = *sequence;
            // Out as the run starts: a request made while it runs may see a newer tree, so it runs again.
            job.run = [id, key = *mergeKey, sequence = *sequence,
                       run = std::move(job.run)](GitService& self) {
                {
                    std::lock_guard lock(self.workMutex_);
                    auto& pendingDiffs = self.work_[id].pendingDiffs;
                    auto pending = pendingDiffs.find(key);
                    if (pending != pendingDiffs.end() && pending->second == sequence)
                        pendingDiffs.erase(pending);
                }
                run(self);
            };
        } else {
            ++entry.changes;
        }
        if (auto code = postLocked(id, job)) {
            auto& left = work_[id];
            if (mergeKey) left.pendingDiffs.erase(*mergeKey);
            if (left.outstanding == 0) work_.erase(id);
            refused.push_back({std::move(job), code.message()});
        }
    }
    runRefused(refused);
    return true;
}

void GitService::queueFollowUpRefresh(const Project& project) {
    Job job = refusedAs(Refusal::statusWithPlaceholder, "git status", project,
                        [](GitService& self, const Project& project) { self.runRefreshStatus(project); });
    std::vector<RefusedJob> refused;
    {
        std::lock_guard lock(workMutex_);
        auto& entry = work_[project.id];
        ++entry.changes;
        if (!pendingBarriers_.empty() || !entry.held.empty()) {
            // A page that asked for a barrier before this finished hears it before this refresh, even
            // while the barrier still waits for another project.
            std::uint64_t gate = pendingBarriers_.empty() ? 0 : pendingBarriers_.rbegin()->first;
            entry.held.push_back({gate, std::move(job)});
            ++entry.outstanding;
        } else if (auto code = postLocked(project.id, job)) {
            refused.push_back({std::move(job), code.message()});
        }
    }
    runRefused(refused);
}

void GitService::waitUntilIdle() {
    {
        std::unique_lock lock(workMutex_);
        workIdle_.wait(lock, [&] { return stopping_ || (work_.empty() && pendingBarriers_.empty()); });
        // Ended: its barriers are never answered, and the end itself waits for whatever still runs.
        if (stopping_) return;
    }
    if (historyQueue_) historyQueue_->barrier();
    if (!MainQueue::isMainThread()) MainQueue::shared().sync([] {});
}

std::size_t GitService::projectsWithWork() const {
    std::lock_guard lock(workMutex_);
    return work_.size();
}

void GitService::shutdown() {
    if (stopping_.exchange(true)) return;
    // Running git ends at once, so the workers come back quickly; work not started is dropped.
    processRunner_->stopAll();
    pool_->shutdown();
    historyQueue_.reset();
    std::lock_guard lock(workMutex_);
    work_.clear();
    pendingBarriers_.clear();
    workIdle_.notify_all();
}

void GitService::reachRefreshBarrier(const Uuid& projectID, const std::string& requestId) {
    // A marker goes on the sequence of every project with work outstanding (behind what it holds back,
    // if anything), in the same step as the barrier is numbered; the marker that runs last answers.
    // A marker holds nothing up behind it, so a stalled project delays barriers, never another project's
    // work, and a barrier costs nothing for projects without work.
    if (stopping_) return;
    std::vector<RefusedJob> refused;
    {
        std::lock_guard lock(workMutex_);
        const std::uint64_t sequence = nextBarrier_++;
        PendingBarrier barrier{{projectID.string(), requestId}, 0};
        Job marker;
        marker.run = [sequence](GitService& self) { self.barrierMarkerRan(sequence); };
        marker.refused = [sequence](GitService& self, const std::string&) {
            self.barrierMarkerRan(sequence);
        };
        for (auto& [id, entry] : work_) {
            ++entry.changes;  // a diff asked for after the barrier never joins one asked for before it
            if (!entry.held.empty()) {
                entry.held.push_back({0, marker});
                ++entry.outstanding;
                ++barrier.waiting;
            } else if (!postLocked(id, marker)) {
                ++barrier.waiting;
            }
        }
        pendingBarriers_.emplace(sequence, std::move(barrier));
        answerReachedLocked(refused);
    }
    runRefused(refused);
}

void GitService::barrierMarkerRan(std::uint64_t sequence) {
    std::vector<RefusedJob> refused;
    {
        std::lock_guard lock(workMutex_);
        if (auto barrier = pendingBarriers_.find(sequence); barrier != pendingBarriers_.end())
            --barrier->second.waiting;
        answerReachedLocked(refused);
    }
    runRefused(refused);
}

void GitService::answerReachedLocked(std::vector<RefusedJob>& refused) {
    // Answered under the lock, so two workers never send barriers out of their order; from the main
    // thread through the main queue, behind the events workers handed over before.
    bool answered = false;
    while (!pendingBarriers_.empty() && pendingBarriers_.begin()->second.waiting == 0) {
        GitRefreshBarrierPayload payload = std::move(pendingBarriers_.begin()->second.payload);
        pendingBarriers_.erase(pendingBarriers_.begin());
        if (MainQueue::isMainThread()) {
            sendLater(
                [payload](GitServiceEventSink& sink) { sink.gitServiceDidReachRefreshBarrier(payload); });
        } else {
            send([&](GitServiceEventSink& sink) { sink.gitServiceDidReachRefreshBarrier(payload); });
        }
        answered = true;
    }
    if (answered) releaseHeldLocked(refused);
    if (work_.empty() && pendingBarriers_.empty()) workIdle_.notify_all();
}

void GitService::releaseHeldLocked(std::vector<RefusedJob>& refused) {
    auto released = [&](const HeldJob& held) {
        return held.gate == 0 || pendingBarriers_.empty() || pendingBarriers_.begin()->first > held.gate;
    };
    for (auto entry = work_.begin(); entry != work_.end();) {
        auto& held = entry->second.held;
        while (!held.empty() && released(held.front())) {
            Job job = std::move(held.front().job);
            held.pop_front();
            --entry->second.outstanding;
            if (auto code = postLocked(entry->first, job))
                refused.push_back({std::move(job), code.message()});
        }
        if (entry->second.outstanding == 0) {
            entry = work_.erase(entry);
        } else {
            ++entry;
        }
    }
}

std::filesystem::path GitService::folder(const ProjectMetadata& project) const {
    return project.rootFolder();
}

Environment::Map GitService::baseEnvironment(bool readOnly) const {
    Environment::Map environment = options_.environment;
    environment["GIT_TERMINAL_PROMPT"] = "0";
    if (readOnly) environment["GIT_OPTIONAL_LOCKS"] = "0";
    return environment;
}

GitResult<std::string> GitService::runGit(const std::vector<std::string>& arguments,
                                          const ProjectMetadata& project, bool requiresAuth, bool readOnly,
                                          bool network) {
    Environment::Map environment = baseEnvironment(readOnly);
    std::vector<std::string> command{"git"};
    std::optional<OAuthTokenRecord> token;
    GitCredentialRun run;
    if (requiresAuth) {
        token = authProvider_ ? authProvider_->loadToken() : std::nullopt;
        if (!token || !gitHubOrigin_) return GitError::authenticationRequired();
        try {
            run = credentialBroker_->prepareEnvironment(token->accessToken, *gitHubOrigin_);
        } catch (const std::exception& error) {
            return GitError::launchFailed(error.what());
        }
        for (const auto& [key, value] : run.environment) environment[key] = value;
        environment["GITHUB_TOKEN"] = token->accessToken;
        environment["GH_TOKEN"] = token->accessToken;
        // Only the broker's helper is asked for credentials; submodules, which may live anywhere, are
        // left alone.
        command.insert(command.end(), run.options.begin(), run.options.end());
        command.insert(command.end(),
                       {"-c", "submodule.recurse=false", "-c", "fetch.recurseSubmodules=false"});
    }

    GitProcessExecutionResult result;
    if (network) {
        // Progress keeps a moving transfer talking, so silence means the remote has stopped; git's own
        // low-speed limit ends a stalled HTTP transfer from inside.
        auto seconds = std::max<std::int64_t>(
            1, std::chrono::duration_cast<std::chrono::seconds>(options_.networkSilenceLimit).count());
        command.insert(command.end(),
                       {"-c", "http.lowSpeedLimit=1", "-c", "http.lowSpeedTime=" + std::to_string(seconds)});
        command.insert(command.end(), arguments.begin(), arguments.end());
        result = processRunner_->runWithin(command, folder(project), environment,
                                           {options_.networkSilenceLimit, options_.networkOverallLimit});
    } else {
        command.insert(command.end(), arguments.begin(), arguments.end());
        result = processRunner_->run(command, folder(project), environment);
    }
    const bool refused = requiresAuth && result.status != 0 && isAuthenticationFailure(run, project);
    if (requiresAuth) credentialBroker_->cleanup(run);

    if (result.status == 0) return std::move(result.stdout);
    if (refused) {
        revokeRejectedToken(token->accessToken);
        return GitError::authenticationFailed(result.stderr);
    }
    return GitError::commandFailed(std::string(GitOutputText::trim(result.stderr)));
}

GitResult<GitService::BoundedOutput> GitService::runGitBounded(const std::vector<std::string>& arguments,
                                                               const ProjectMetadata& project,
                                                               std::size_t maxStdout) {
    GitProcessLimits limits;
    limits.maxStdout = maxStdout;
    auto result =
        processRunner_->runWithin(gitCommand(arguments), folder(project), baseEnvironment(true), limits);
    if (result.stdoutOverLimit) return BoundedOutput{std::move(result.stdout), true};
    if (result.status == 0) return BoundedOutput{std::move(result.stdout), false};
    return GitError::commandFailed(std::string(GitOutputText::trim(result.stderr)));
}

GitResult<std::string> GitService::runGitWithInput(const std::vector<std::string>& arguments,
                                                   const ProjectMetadata& project, const std::string& input) {
    auto result = processRunner_->runWithInput(gitCommand(arguments), folder(project), baseEnvironment(false),
                                               input, GitProcessLimits{});
    if (result.status == 0) return std::move(result.stdout);
    return GitError::commandFailed(std::string(GitOutputText::trim(result.stderr)));
}

bool GitService::ensureAuthenticated(const std::string& operation, bool suppressError) {
    if (authProvider_ && authProvider_->hasToken() && authProvider_->loadToken()) return true;
    if (!suppressError) {
        std::string message = operation + " を実行するには GitHub にサインインしてください";
        send([&](GitServiceEventSink& sink) { sink.gitServiceDidFail(message); });
    }
    return false;
}

void GitService::handleGitError(const GitError& error, const std::string& commandDescription,
                                const std::optional<Uuid>& projectId) {
    std::string message;
    switch (error.kind()) {
        case GitError::Kind::launchFailed:
            message = commandDescription + " の起動に失敗: " + error.text();
            break;
        case GitError::Kind::commandFailed:
            if (projectId && meansMissingRemote(error, commandDescription)) {
                notifyMissingRemoteIfNeeded(*projectId);
                return;
            }
            if (auto friendly = friendlyMessageForGitCommandFailure(commandDescription, error.text())) {
                message = *friendly;
            } else if (!error.text().empty()) {
                message = error.text();
            } else {
                message = commandDescription + " で不明なエラー";
            }
            break;
        case GitError::Kind::authenticationFailed:
            message = "Git 認証に失敗しました。再度 GitHub にサインインしてください。";
            if (!error.text().empty()) message += "\n" + error.text();
            break;
        case GitError::Kind::authenticationRequired:
            message = commandDescription + " を実行するには GitHub にサインインしてください";
            break;
    }
    send([&](GitServiceEventSink& sink) { sink.gitServiceDidFail(message); });
}

std::chrono::steady_clock::time_point GitService::now() const {
    return options_.clock ? options_.clock() : std::chrono::steady_clock::now();
}

void GitService::notifyMissingRemoteIfNeeded(const Uuid& projectId) {
    sweepMissingRemotes();
    {
        std::lock_guard lock(projectSetsMutex_);
        if (!missingRemoteProjects_.emplace(projectId, now()).second) return;
    }
    send([](GitServiceEventSink& sink) { sink.gitServiceDidFail(missingRemoteText); });
}

void GitService::sweepMissingRemotes() {
    const auto cutoff = now() - std::chrono::seconds(1);
    std::lock_guard lock(projectSetsMutex_);
    std::erase_if(missingRemoteProjects_, [&](const auto& entry) { return entry.second <= cutoff; });
}

bool GitService::isMissingRemote(const Uuid& projectId) const {
    std::lock_guard lock(projectSetsMutex_);
    auto entry = missingRemoteProjects_.find(projectId);
    return entry != missingRemoteProjects_.end() && entry->second > now() - std::chrono::seconds(1);
}

bool GitService::meansMissingRemote(const GitError& error, const std::string& commandDescription) {
    return error.kind() == GitError::Kind::commandFailed &&
           friendlyMessageForGitCommandFailure(commandDescription, error.text()) == missingRemoteText;
}

void GitService::clearMissingRemote(const Uuid& projectId) {
    std::lock_guard lock(projectSetsMutex_);
    missingRemoteProjects_.erase(projectId);
}

std::optional<std::string> GitService::friendlyMessageForGitCommandFailure(const std::string&,
                                                                           const std::string& reason) {
    static const char* const noRemoteTexts[] = {"no remote repository",
                                                "no configured push destination",
                                                "no remote configured",
                                                "no remote refs",
                                                "no such remote",
                                                "no upstream configured",
                                                "no tracking information for the current branch",
                                                "no tracking information",
                                                "no upstream",
                                                "not a git repository",
                                                "is outside repository",
                                                "unknown option `cached'"};
    std::string text = GitOutputText::lowercased(reason);
    for (const char* needle : noRemoteTexts) {
        if (text.find(needle) != std::string::npos) return missingRemoteText;
    }
    return std::nullopt;
}

bool GitService::addsHeadersOfItsOwn(const ProjectMetadata& project) {
    auto result = runGit({"config", "--get-regexp", R"(^http\..*extraheader$)"}, project, false, true);
    return result.ok() && !GitOutputText::trim(result.value()).empty();
}

bool GitService::isAuthenticationFailure(const GitCredentialRun& run, const ProjectMetadata& project) {
    // git erases the credential it was given only after the server's 401, and every URL of an
    // authenticated run is GitHub's, so the refusal is GitHub's; what a hook or a commit prints is
    // never looked at.
    return credentialBroker_->wasRefused(run) && !addsHeadersOfItsOwn(project);
}

std::optional<GitOAuthAccountPayload> GitService::accountPayload(
    const std::optional<OAuthTokenRecord>& record) {
    if (!record || !record->accountLogin) return std::nullopt;
    return GitOAuthAccountPayload{*record->accountLogin, record->accountAvatarURL};
}

void GitService::revokeRejectedToken(const std::string& accessToken) {
    // Only the refused token goes: one stored meanwhile (a refresh, a new sign-in) stays. The check
    // and the deletion are one step of the token store.
    auto current = authProvider_->loadToken();
    if (!authProvider_->deleteTokenIfCurrent(accessToken)) return;
    GitOAuthStatusPayload status;
    status.status = "disconnected";
    if (current && current->accessToken == accessToken) status.account = accountPayload(current);
    status.reason = "tokenInvalid";
    send([&](GitServiceEventSink& sink) { sink.gitServiceDidUpdateOAuthStatus(status); });
}

}  // namespace pelko
