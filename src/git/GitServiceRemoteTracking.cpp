// GitService: the current branch's upstream with its ahead and behind counts.
#include "git/GitCurrentBranch.hpp"
#include "git/GitOutputText.hpp"
#include "git/GitService.hpp"

namespace pelko {

namespace {

constexpr const char* branchDescription = "git rev-parse --symbolic-full-name HEAD";
constexpr const char* upstreamDescription = "git rev-parse --symbolic-full-name @{u}";

// "<behind>\t<ahead>", as `rev-list --left-right --count @{u}...HEAD` prints them.
std::pair<std::int64_t, std::int64_t> parseCounts(std::string_view output) {
    std::string_view text = GitOutputText::trim(output);
    std::vector<std::string_view> parts;
    for (auto part : GitOutputText::split(text, "\t")) parts.push_back(part);
    if (parts.size() != 2) {
        parts.clear();
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find_first_of(" \t", start);
            if (end == std::string_view::npos) end = text.size();
            if (end > start) parts.push_back(text.substr(start, end - start));
            start = end + 1;
        }
    }
    if (parts.size() != 2) return {0, 0};
    auto number = [](std::string_view part) {
        return GitOutputText::parseInteger(GitOutputText::trimBlanks(part)).value_or(0);
    };
    return {number(parts[0]), number(parts[1])};
}

}  // namespace

void GitService::fetchRemoteTracking(const Uuid& projectID) {
    enqueue(projectID, Refusal::result, branchDescription,
            [](GitService& self, const Project& project) { self.runRemoteTracking(project); });
}

void GitService::runRemoteTracking(const Project& project) {
    if (remoteURL(project.metadata)) {
        clearMissingRemote(project.id);
    } else {
        notifyMissingRemoteIfNeeded(project.id);
    }

    auto branch = runGit(GitCurrentBranch::headArguments, project.metadata, false, true);
    if (!branch.ok()) {
        handleGitError(branch.error(), branchDescription, project.id);
        return;
    }
    GitRemoteTrackingPayload payload;
    payload.projectId = project.id.string();
    payload.branch = GitCurrentBranch::shortName(branch.value());

    auto upstream = runGit(GitCurrentBranch::upstreamArguments, project.metadata, false, true);
    if (!upstream.ok()) {
        const GitError& error = upstream.error();
        std::string lower = GitOutputText::lowercased(error.text());
        // A detached head, a branch without upstream and one whose upstream is gone (git then finds no
        // revision "@{u}") are normal states.
        bool normal = error.kind() == GitError::Kind::commandFailed &&
                      (lower.find("no upstream") != std::string::npos ||
                       lower.find("head does not point to a branch") != std::string::npos ||
                       lower.find("ambiguous argument '@{u}'") != std::string::npos);
        if (!normal) {
            handleGitError(error, upstreamDescription, project.id);
            return;
        }
    } else {
        payload.remote = GitCurrentBranch::shortName(upstream.value());
        if (!payload.remote->empty()) {
            auto counts =
                runGit({"rev-list", "--left-right", "--count", "@{u}...HEAD"}, project.metadata, false, true);
            if (counts.ok()) std::tie(payload.behind, payload.ahead) = parseCounts(counts.value());
        }
    }
    send([&](GitServiceEventSink& sink) { sink.gitServiceDidUpdateRemoteTracking(payload); });
}

}  // namespace pelko
