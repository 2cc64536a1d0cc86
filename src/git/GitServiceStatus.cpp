// GitService: status, commit, push, pull, fetch and status detail.
#include "git/GitOutputText.hpp"
#include "git/GitQuotedPath.hpp"
#include "git/GitService.hpp"

namespace pelko {

namespace {

const std::vector<std::string> statusArguments{"status", "--porcelain", "--branch", "--untracked-files=all"};

}  // namespace

void GitService::refreshStatus(const std::optional<Uuid>& projectID) {
    // No project: the one active when asked, so the request takes its place on that project's sequence
    // at once and a barrier asked for later finds it there.
    enqueue(projectID, Refusal::statusWithPlaceholder, "git status",
            [](GitService& self, const Project& project) { self.runRefreshStatus(project); });
}

void GitService::commit(const Uuid& projectID, const std::string& message) {
    bool known =
        enqueue(projectID, Refusal::result, "git commit",
                [message](GitService& self, const Project& project) { self.runCommit(project, message); });
    // A blank message is refused without a project, so an unknown one hears it too.
    if (!known && GitOutputText::trim(message).empty()) {
        sendLater([](GitServiceEventSink& sink) {
            sink.gitServiceDidFail("コミットメッセージを入力してください");
        });
    }
}

void GitService::push(const Uuid& projectID) {
    enqueue(projectID, Refusal::result, "git push", [](GitService& self, const Project& project) {
        self.runRemoteOperation(project, {"push", "--progress"}, "Push", "git push", "Push が完了しました");
    });
}

void GitService::pull(const Uuid& projectID) {
    enqueue(projectID, Refusal::result, "git pull", [](GitService& self, const Project& project) {
        self.runRemoteOperation(project, {"pull", "--rebase", "--progress"}, "Pull", "git pull",
                                "Pull が完了しました");
    });
}

void GitService::fetch(const Uuid& projectID) {
    enqueue(projectID, Refusal::result, "git fetch", [](GitService& self, const Project& project) {
        self.runRemoteOperation(project, {"fetch", "--progress"}, "Fetch", "git fetch",
                                "Fetch が完了しました");
    });
}

void GitService::fetchStatusDetail(const Uuid& projectID) {
    enqueue(projectID, Refusal::result, "git status",
            [](GitService& self, const Project& project) { self.runStatusDetail(project); });
}

GitStatusPayload GitService::parseStatus(const std::string& output, const Uuid& projectId) {
    GitStatusPayload payload = GitStatusPayload::placeholder(projectId);
    for (auto line : GitOutputText::nonEmptyLines(output)) {
        if (line.starts_with("## ")) {
            auto branch = GitStatusDetailMapper::parseBranchLine(line.substr(3));
            payload.branch = std::move(branch.branch);
            payload.ahead = branch.ahead;
            payload.behind = branch.behind;
        } else if (line.starts_with("?? ")) {
            payload.untracked.push_back({GitQuotedPath::unquote(line.substr(3)), "?"});
        } else if (line.size() > 2) {
            GitStatusPayload::File file{GitStatusDetailMapper::splitPaths(line.substr(3)).second,
                                        std::string(line.substr(0, 2))};
            if (line[0] != ' ') payload.staged.push_back(file);
            if (line[1] != ' ') payload.unstaged.push_back(std::move(file));
        }
    }
    payload.pending =
        static_cast<std::int64_t>(payload.staged.size() + payload.unstaged.size() + payload.untracked.size());
    return payload;
}

void GitService::runRefreshStatus(const Project& project) {
    auto result = runGit(statusArguments, project.metadata, false, true);
    if (result.ok()) {
        auto payload = parseStatus(result.value(), project.id);
        clearMissingRemote(project.id);
        send([&](GitServiceEventSink& sink) { sink.gitServiceDidUpdateStatus(payload); });
        return;
    }
    const GitError& error = result.error();
    if (meansMissingRemote(error, "git status")) {
        notifyMissingRemoteIfNeeded(project.id);
    } else {
        auto friendly = error.kind() == GitError::Kind::commandFailed
                            ? friendlyMessageForGitCommandFailure("git status", error.text())
                            : std::nullopt;
        std::string message = friendly ? *friendly : error.description();
        send([&](GitServiceEventSink& sink) { sink.gitServiceDidFail(message); });
    }
    auto placeholder = GitStatusPayload::placeholder(project.id);
    send([&](GitServiceEventSink& sink) { sink.gitServiceDidUpdateStatus(placeholder); });
}

void GitService::runCommit(const Project& project, const std::string& message) {
    if (GitOutputText::trim(message).empty()) {
        send([](GitServiceEventSink& sink) {
            sink.gitServiceDidFail("コミットメッセージを入力してください");
        });
        return;
    }
    if (auto added = runGit({"add", "-A"}, project.metadata, false); !added.ok()) {
        handleGitError(added.error(), "git add", project.id);
        return;
    }
    // On standard input, exactly as given: a message of any length, never an option.
    if (auto committed = runGitWithInput({"commit", "-F", "-"}, project.metadata, message); !committed.ok()) {
        handleGitError(committed.error(), "git commit", project.id);
        return;
    }
    send([](GitServiceEventSink& sink) { sink.gitServiceDidSucceed("コミットしました"); });
    queueFollowUpRefresh(project);
}

void GitService::runRemoteOperation(const Project& project, const std::vector<std::string>& arguments,
                                    const std::string& operation, const std::string& commandDescription,
                                    const std::string& successText) {
    bool forPush = arguments.front() == "push";
    auto remote = remoteToContact(project.metadata, forPush);
    if (!remote) {
        notifyMissingRemoteIfNeeded(project.id);
        return;
    }
    bool requiresAuth = isGitHubOnly(*remote) && connectionLeftToUser(*remote, project.metadata);
    if (requiresAuth && !ensureAuthenticated(operation, false)) {
        clearMissingRemote(project.id);
        return;
    }
    // The remote git would pick, named, so git contacts exactly the URLs checked above.
    std::vector<std::string> command = arguments;
    if (requiresAuth) command.push_back("--recurse-submodules=no");
    command.insert(command.end(), {"--", remote->name});
    auto result = runGit(command, project.metadata, requiresAuth, false, true);
    // A remote was found, but a branch without an upstream fails with the same notice: its mark stays,
    // so a repeat within the second is not told again.
    if (result.ok() || !meansMissingRemote(result.error(), commandDescription))
        clearMissingRemote(project.id);
    if (!result.ok()) {
        handleGitError(result.error(), commandDescription, project.id);
        return;
    }
    send([&](GitServiceEventSink& sink) { sink.gitServiceDidSucceed(successText); });
    queueFollowUpRefresh(project);
}

void GitService::runStatusDetail(const Project& project) {
    auto result = runGit(statusArguments, project.metadata, false, true);
    if (!result.ok()) {
        handleGitError(result.error(), "git status", project.id);
        return;
    }
    clearMissingRemote(project.id);
    auto components = statusMapper_.parse(result.value());

    GitStatusDetailPayload payload;
    payload.projectId = project.id.string();
    payload.branch = components.branch.empty() ? "--" : components.branch;
    auto head = runGit({"rev-parse", "HEAD"}, project.metadata, false, true);
    payload.headSha = head.ok() ? std::string(GitOutputText::trim(head.value())) : "--";
    payload.ahead = components.ahead;
    payload.behind = components.behind;
    payload.remote = components.remote;
    payload.staged = statusMapper_.buildTree(components.staged);
    payload.unstaged = statusMapper_.buildTree(components.unstaged);
    payload.untracked = statusMapper_.buildTree(components.untracked);
    send([&](GitServiceEventSink& sink) { sink.gitServiceDidLoadStatusDetail(payload); });
}

}  // namespace pelko
