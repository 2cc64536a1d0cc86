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
      queue_(std::make_unique<SerialQueue>("app.pelko.git-service")) {}

GitService::~GitService() = default;

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

SerialQueue& GitService::projectQueue(const Uuid& projectID) {
    std::lock_guard lock(projectQueuesMutex_);
    auto& queue = projectQueues_[projectID];
    if (!queue) queue = std::make_unique<SerialQueue>("app.pelko.git-service." + projectID.string());
    return *queue;
}

void GitService::enqueue(const Uuid& projectID, std::function<void(GitService&)> work) {
    // Counted as it is queued, under one lock, so a diff request can tell whether other work was queued
    // after an identical one.
    std::lock_guard lock(projectSetsMutex_);
    ++queuedWork_[projectID];
    projectQueue(projectID).async([weak = weak_from_this(), work = std::move(work)] {
        if (auto self = weak.lock()) work(*self);
    });
}

void GitService::waitUntilIdle() {
    std::vector<SerialQueue*> queues;
    {
        std::lock_guard lock(projectQueuesMutex_);
        for (auto& [id, queue] : projectQueues_) queues.push_back(queue.get());
    }
    for (auto* queue : queues) queue->barrier();
    queue_->barrier();
}

void GitService::reachRefreshBarrier(const Uuid& projectID, const std::string& requestId) {
    // A marker goes on the service queue and on every project's queue as they stand now; the marker
    // that runs last answers, on its own queue, before that queue runs anything queued after the
    // barrier. A marker holds nothing up behind it, so a stalled project delays barriers, never
    // another project's work. The lock makes each barrier's markers follow the earlier ones' on every
    // queue, so barriers are reached in the order they were asked for.
    std::lock_guard lock(barriersMutex_);
    const std::uint64_t sequence = nextBarrier_++;
    std::vector<SerialQueue*> queues{queue_.get()};
    {
        std::lock_guard sets(projectSetsMutex_);
        std::lock_guard queuesLock(projectQueuesMutex_);
        for (auto& [id, queue] : projectQueues_) {
            ++queuedWork_[id];  // a diff asked for after the barrier never joins one asked for before it
            queues.push_back(queue.get());
        }
    }
    pendingBarriers_.emplace(sequence, PendingBarrier{{projectID.string(), requestId}, queues.size()});
    for (auto* queue : queues) {
        queue->async([weak = weak_from_this(), sequence] {
            if (auto self = weak.lock()) self->barrierMarkerRan(sequence);
        });
    }
}

void GitService::barrierMarkerRan(std::uint64_t sequence) {
    // Answers under the lock, so two queues never send barriers out of their order.
    std::lock_guard lock(barriersMutex_);
    --pendingBarriers_.at(sequence).waiting;
    while (!pendingBarriers_.empty() && pendingBarriers_.begin()->second.waiting == 0) {
        GitRefreshBarrierPayload payload = std::move(pendingBarriers_.begin()->second.payload);
        pendingBarriers_.erase(pendingBarriers_.begin());
        send([&](GitServiceEventSink& sink) { sink.gitServiceDidReachRefreshBarrier(payload); });
    }
}

std::optional<GitService::Project> GitService::metadata(const std::optional<Uuid>& projectID) const {
    std::optional<Project> found;
    MainQueue::shared().sync([&] {
        std::optional<Uuid> id = projectID;
        if (!id) id = configProvider_->config().activeProjectID;
        if (!id) return;
        if (auto project = configProvider_->project(*id)) found = Project{std::move(*project), *id};
    });
    return found;
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
            if (auto friendly = friendlyMessageForGitCommandFailure(commandDescription, error.text())) {
                if (*friendly == missingRemoteText && projectId) {
                    notifyMissingRemoteIfNeeded(*projectId);
                    return;
                }
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

void GitService::notifyMissingRemoteIfNeeded(const Uuid& projectId) {
    {
        std::lock_guard lock(projectSetsMutex_);
        if (!missingRemoteProjects_.insert(projectId).second) return;
    }
    send([](GitServiceEventSink& sink) { sink.gitServiceDidFail(missingRemoteText); });
    projectQueue(projectId).asyncAfter(std::chrono::seconds(1), [weak = weak_from_this(), projectId] {
        if (auto self = weak.lock()) self->clearMissingRemote(projectId);
    });
}

bool GitService::isMissingRemote(const Uuid& projectId) const {
    std::lock_guard lock(projectSetsMutex_);
    return missingRemoteProjects_.contains(projectId);
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
