// GitService: diffs of the working tree and of commits.
#include "git/GitOutputText.hpp"
#include "git/GitService.hpp"
#include "platform/ProjectDirectory.hpp"
#include "platform/ProjectPath.hpp"

namespace pelko {

namespace {

// Lines at line feeds and carriage returns, empty ones dropped.
std::vector<std::string_view> numstatLines(std::string_view output) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start <= output.size()) {
        std::size_t end = output.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = output.size();
        if (end > start) lines.push_back(output.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool isBlank(std::string_view text) {
    return GitOutputText::trim(text).empty();
}

}  // namespace

GitService::Numstat GitService::parseNumstat(const std::string& output) {
    Numstat total;
    for (auto line : numstatLines(output)) {
        auto fields = GitOutputText::split(line, "\t");
        if (fields.size() < 3) continue;
        if (fields[0] == "-" || fields[1] == "-") {
            total.isBinary = true;
            continue;
        }
        total.additions += GitOutputText::parseInteger(fields[0]).value_or(0);
        total.deletions += GitOutputText::parseInteger(fields[1]).value_or(0);
    }
    return total;
}

std::optional<std::string> GitService::pagePath(const std::string& path) {
    return ProjectPath::normalize(path, ProjectPath::LeadingSlash::refused);
}

bool GitService::staysInside(const std::string& relativePath, const ProjectMetadata& project) const {
    auto root = ProjectDirectory::open(folder(project));
    if (!root) return false;
    ResolveError error;
    return root->resolve(relativePath, ProjectDirectory::FinalLink::keep, error).has_value();
}

// ---------------------------------------------------------------------------------------------------
// Working-tree diffs

void GitService::fetchDiff(const Uuid& projectID, const std::vector<GitDiffTarget>& targets) {
    enqueue(projectID, [projectID, targets](GitService& self) { self.runDiff(projectID, targets); });
}

void GitService::runDiff(const Uuid& projectID, const std::vector<GitDiffTarget>& requested) {
    auto project = metadata(projectID);
    if (!project) return;
    std::vector<GitDiffTarget> targets = requested;
    if (targets.empty()) targets = {{"", GitDiffStage::staged}, {"", GitDiffStage::unstaged}};
    GitDiffPayload payload;
    payload.projectId = project->id.string();
    for (const auto& target : targets) {
        if (auto file = buildDiffPayload(target, *project)) payload.files.push_back(std::move(*file));
    }
    send([&](GitServiceEventSink& sink) { sink.gitServiceDidLoadDiff(payload); });
}

std::vector<std::string> GitService::diffArguments(const GitDiffTarget& target, OutputMode mode, bool text) {
    std::vector<std::string> arguments{"diff"};
    if (target.stage == GitDiffStage::staged) arguments.emplace_back("--cached");
    if (target.stage == GitDiffStage::head) arguments.emplace_back("HEAD");
    if (mode == OutputMode::numstat) {
        arguments.emplace_back("--numstat");
    } else {
        arguments.emplace_back("--patch");
        if (text) arguments.emplace_back("--text");
    }
    if (!target.path.empty()) {
        arguments.emplace_back("--");
        arguments.push_back(target.path);
    }
    return arguments;
}

std::optional<GitDiffFilePayload> GitService::buildDiffPayload(const GitDiffTarget& requested,
                                                               const Project& project) {
    auto path = pagePath(requested.path);
    if (!path) return std::nullopt;
    GitDiffTarget target{*path, requested.stage};
    if (target.stage == GitDiffStage::unstaged && !target.path.empty() &&
        isUntrackedFile(target.path, project.metadata)) {
        return buildDiffPayloadForUntracked(target, project);
    }
    if (isMissingRemote(project.id)) return std::nullopt;

    auto numstat = runGit(diffArguments(target, OutputMode::numstat), project.metadata, false, true);
    if (!numstat.ok()) {
        handleGitError(numstat.error(), "git diff --numstat", project.id);
        return std::nullopt;
    }
    auto counts = parseNumstat(numstat.value());
    // Text mode for text only: a binary file keeps git's short notice instead of its raw bytes.
    auto patch =
        runGit(diffArguments(target, OutputMode::patch, !counts.isBinary), project.metadata, false, true);
    if (!patch.ok()) {
        handleGitError(patch.error(), "git diff", project.id);
        return std::nullopt;
    }
    if (isBlank(patch.value()) && counts.additions == 0 && counts.deletions == 0 && !counts.isBinary) {
        return std::nullopt;
    }
    return GitDiffFilePayload{requested.path.empty() ? "." : requested.path,
                              target.stage,
                              counts.additions,
                              counts.deletions,
                              counts.isBinary,
                              std::move(patch.value())};
}

bool GitService::isUntrackedFile(const std::string& path, const ProjectMetadata& project) {
    if (path.empty()) return false;
    auto result = runGit({"ls-files", "--error-unmatch", "--", path}, project, false, true);
    return !result.ok() && result.error().kind() == GitError::Kind::commandFailed;
}

std::optional<GitDiffFilePayload> GitService::buildDiffPayloadForUntracked(const GitDiffTarget& target,
                                                                           const Project& project) {
    // git reads an untracked path itself, following links in folders: one leading out is refused.
    if (!staysInside(target.path, project.metadata)) return std::nullopt;
    auto numstat = runGitAllowingDifferences(
        {"diff", "--no-index", "--numstat", "/dev/null", "--", target.path}, project.metadata, {0, 1});
    if (!numstat.ok()) {
        handleGitError(numstat.error(), "git diff --no-index --numstat", project.id);
        return std::nullopt;
    }
    auto counts = parseNumstat(numstat.value().stdout);
    std::vector<std::string> patchArguments{"diff", "--no-index", "--patch"};
    if (!counts.isBinary) patchArguments.emplace_back("--text");
    patchArguments.insert(patchArguments.end(), {"/dev/null", "--", target.path});
    auto patch = runGitAllowingDifferences(patchArguments, project.metadata, {0, 1});
    if (!patch.ok()) {
        handleGitError(patch.error(), "git diff --no-index", project.id);
        return std::nullopt;
    }
    if (isBlank(patch.value().stdout) && counts.additions == 0 && counts.deletions == 0 && !counts.isBinary) {
        return std::nullopt;
    }
    return GitDiffFilePayload{target.path,      target.stage,    counts.additions,
                              counts.deletions, counts.isBinary, std::move(patch.value().stdout)};
}

// ---------------------------------------------------------------------------------------------------
// Commit diffs

void GitService::fetchCommitDiff(const Uuid& projectID, const std::string& commit,
                                 const std::optional<std::string>& path) {
    enqueue(projectID,
            [projectID, commit, path](GitService& self) { self.runCommitDiff(projectID, commit, path); });
}

std::string GitService::normalizeRenamedPath(const std::string& path) {
    auto trimBlanks = [](std::string_view text) { return std::string(GitOutputText::trimBlanks(text)); };
    if (path.find("=>") == std::string::npos) return path;
    std::string result = path;
    for (;;) {
        std::size_t open = result.find('{');
        if (open == std::string::npos) break;
        std::size_t close = result.find('}', open + 1);
        if (close == std::string::npos) break;
        std::string_view inner = std::string_view(result).substr(open + 1, close - open - 1);
        std::size_t arrow = inner.find("=>");
        std::string replacement =
            trimBlanks(arrow == std::string_view::npos ? inner : inner.substr(arrow + 2));
        result.replace(open, close - open + 1, replacement);
    }
    // A rename into or out of the top folder leaves a doubled or leading "/" behind.
    for (std::size_t at; (at = result.find("//")) != std::string::npos;) result.erase(at, 1);
    if (result.starts_with('/')) result.erase(0, 1);
    if (std::size_t arrow = result.find("=>"); arrow != std::string::npos)
        return trimBlanks(result.substr(arrow + 2));
    return trimBlanks(result);
}

void GitService::runCommitDiff(const Uuid& projectID, const std::string& requestedCommit,
                               const std::optional<std::string>& path) {
    auto project = metadata(projectID);
    if (!project) return;
    std::string commit(GitOutputText::trim(requestedCommit));
    // A revision that starts with "-" would be read as an option ("--output=<file>" writes a file).
    if (commit.empty() || commit.starts_with('-')) return;

    GitCommitDiffPayload payload;
    payload.projectId = project->id.string();
    payload.commit = commit;
    if (!path) {
        payload.files = buildCommitDiffSummary(commit, *project);
    } else if (auto file = buildCommitDiffPayload(commit, path, *project)) {
        payload.files.push_back(std::move(*file));
    } else {
        GitCommitDiffFilePayload empty;
        empty.commit = commit;
        empty.path = path->empty() ? "." : normalizeRenamedPath(*path);
        empty.resolved = true;
        payload.files.push_back(std::move(empty));
    }
    send([&](GitServiceEventSink& sink) { sink.gitServiceDidLoadCommitDiff(payload); });
}

std::vector<GitCommitDiffFilePayload> GitService::buildCommitDiffSummary(const std::string& commit,
                                                                         const Project& project) {
    // "--no-patch" would silence "--numstat" too: an empty format leaves only the counts.
    auto result =
        runGit({"show", commit, "--numstat", "--format=", "--find-renames"}, project.metadata, false, true);
    if (!result.ok()) {
        handleGitError(result.error(), "git show --numstat", project.id);
        return {};
    }
    std::vector<GitCommitDiffFilePayload> files;
    for (auto rawLine : numstatLines(result.value())) {
        std::string_view line = GitOutputText::trim(rawLine);
        if (line.empty()) continue;
        auto fields = GitOutputText::split(line, "\t");
        if (fields.size() < 3) continue;
        std::string path(fields[2]);
        for (std::size_t i = 3; i < fields.size(); ++i) path.append("\t").append(fields[i]);
        GitCommitDiffFilePayload file;
        file.commit = commit;
        file.path = normalizeRenamedPath(path);
        if (fields[0] == "-" || fields[1] == "-") {
            file.isBinary = true;
        } else {
            file.additions = GitOutputText::parseInteger(fields[0]).value_or(0);
            file.deletions = GitOutputText::parseInteger(fields[1]).value_or(0);
        }
        files.push_back(std::move(file));
    }
    return files;
}

std::optional<std::int64_t> GitService::commitParentCount(const std::string& commit, const Project& project) {
    auto result = runGit({"rev-list", "--parents", "-n", "1", commit}, project.metadata, false, true);
    if (!result.ok()) {
        handleGitError(result.error(), "git rev-list --parents", project.id);
        return std::nullopt;
    }
    std::int64_t parts = 0;
    std::string_view text = GitOutputText::trim(result.value());
    for (auto part : GitOutputText::split(text, " ")) {
        if (!part.empty()) ++parts;
    }
    if (parts == 0) return std::nullopt;
    return parts - 1;
}

std::vector<std::string> GitService::commitDiffArguments(const std::string& commit, OutputMode mode,
                                                         const std::optional<std::string>& path,
                                                         std::int64_t parentCount) {
    std::vector<std::string> arguments;
    if (parentCount != 0) {
        arguments = {"diff", commit + "^!"};
        if (mode == OutputMode::numstat) {
            arguments.emplace_back("--numstat");
        } else {
            arguments.insert(arguments.end(), {"--patch", "--text"});
        }
        arguments.emplace_back("--find-renames");
    } else if (mode == OutputMode::numstat) {
        arguments = {"diff-tree", "--no-commit-id", "--root", "--numstat", "-r", "-M", commit};
    } else {
        arguments = {"show", commit, "--pretty=format:", "--patch", "--text", "--find-renames"};
    }
    if (path && !path->empty()) arguments.insert(arguments.end(), {"--", *path});
    return arguments;
}

std::vector<std::string> GitService::mergeCommitPatchArguments(const std::string& commit,
                                                               const std::optional<std::string>& path) {
    std::vector<std::string> arguments{
        "show", "-m", commit, "--pretty=format:", "--patch", "--text", "--find-renames"};
    if (path && !path->empty()) arguments.insert(arguments.end(), {"--", *path});
    return arguments;
}

std::optional<GitCommitDiffFilePayload> GitService::buildCommitDiffPayload(
    const std::string& commit, const std::optional<std::string>& requested, const Project& project) {
    std::optional<std::string> path;
    if (requested) {
        path = pagePath(*requested);
        if (!path) return std::nullopt;
    }
    std::int64_t parents = commitParentCount(commit, project).value_or(1);
    auto numstat = runGit(commitDiffArguments(commit, OutputMode::numstat, path, parents), project.metadata,
                          false, true);
    if (!numstat.ok()) {
        handleGitError(numstat.error(), parents != 0 ? "git diff --numstat" : "git diff-tree --numstat",
                       project.id);
        return std::nullopt;
    }
    auto counts = parseNumstat(numstat.value());
    auto patchArguments = commitDiffArguments(commit, OutputMode::patch, path, parents);
    // Text mode for text only: a binary file keeps git's short notice instead of its raw bytes.
    if (counts.isBinary) std::erase(patchArguments, std::string("--text"));
    auto patch = runGit(patchArguments, project.metadata, false, true);
    if (!patch.ok()) {
        handleGitError(patch.error(), parents != 0 ? "git diff" : "git show", project.id);
        return std::nullopt;
    }
    std::string patchText = std::move(patch.value());
    if (parents >= 2 && isBlank(patchText)) {
        auto arguments = mergeCommitPatchArguments(commit, path);
        if (counts.isBinary) std::erase(arguments, std::string("--text"));
        auto merged = runGit(arguments, project.metadata, false, true);
        if (!merged.ok()) {
            handleGitError(merged.error(), "git show -m", project.id);
            return std::nullopt;
        }
        patchText = std::move(merged.value());
    }
    if (isBlank(patchText) && counts.additions == 0 && counts.deletions == 0 && !counts.isBinary) {
        return std::nullopt;
    }
    GitCommitDiffFilePayload file;
    file.commit = commit;
    file.path = !requested || requested->empty() ? "." : *requested;
    file.additions = counts.additions;
    file.deletions = counts.deletions;
    file.isBinary = counts.isBinary;
    file.patch = std::move(patchText);
    file.resolved = true;
    return file;
}

}  // namespace pelko
