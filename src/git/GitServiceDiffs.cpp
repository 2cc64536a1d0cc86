// GitService: diffs of the working tree and of commits.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "git/GitOutputText.hpp"
#include "git/GitPatchText.hpp"
#include "git/GitService.hpp"
#include "git/ProcessGitProcessRunner.hpp"
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

// Page paths are file names, never patterns or pathspec magic; only the runs that carry them say so, so
// git run by a hook of the user's still reads its own patterns as patterns.
constexpr const char* literalPathspecs = "--literal-pathspecs";

// Appends a field to a merge key so that no two different series of fields make the same key.
void addKeyField(std::string& key, std::string_view field) {
    key.append(std::to_string(field.size())).append(":").append(field);
}

// A failed revision is reported in git's words, whichever refused it.
GitError unknownRevision(const std::string& commit) {
    return GitError::commandFailed("fatal: ambiguous argument '" + commit +
                                   "': unknown revision or path not in the working tree.");
}

// Room for one more file's patch: never zero, which would mean no limit to the runner.
std::size_t fileLimit(std::size_t budget) {
    return std::max<std::size_t>(1, std::min(GitService::diffFileLimit, budget));
}

// Bytes `text` takes in the page's JSON: control characters, quotes, backslashes and slashes are
// escaped, so a patch of control characters grows up to six times.
std::size_t sentSize(std::string_view text) {
    std::size_t size = text.size();
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\' || c == '/' || c == '\n' || c == '\t' || c == '\r' || c == '\b' ||
            c == '\f') {
            size += 1;
        } else if (byte < 0x20) {
            size += 5;
        }
    }
    return size;
}

struct UntrackedContent {
    std::string bytes;
    std::string mode;  // git's: "100644", "100755" or "120000"
    bool overLimit = false;
};

// An untracked item read through the project's descriptor, never by name: a regular file (at most
// `limit` bytes held) or a link (its target, as git diffs one). Folders, FIFOs, devices and sockets,
// and paths leading out of the project, give nothing.
std::optional<UntrackedContent> readUntracked(const ProjectDirectory& root, const std::string& path,
                                              std::size_t limit) {
    // An item swapped for a link after the walk is refused by O_NOFOLLOW, and the walk runs again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        ResolveError error;
        auto entry = root.resolve(path, ProjectDirectory::FinalLink::keep, error);
        if (!entry || !entry->status || entry->name == ".") return std::nullopt;
        if (S_ISLNK(entry->status->st_mode)) {
            std::string target(4096, '\0');
            ssize_t length =
                readlinkat(entry->folder.get(), entry->name.c_str(), target.data(), target.size());
            if (length < 0 && errno == EINVAL) continue;  // no longer a link
            if (length < 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
            target.resize(static_cast<std::size_t>(length));
            return UntrackedContent{std::move(target), "120000", false};
        }
        if (!S_ISREG(entry->status->st_mode)) return std::nullopt;
        UniqueFd fd = ProjectDirectory::openItem(*entry, O_RDONLY | O_NONBLOCK | O_NOCTTY);
        if (!fd.valid() && errno == ELOOP) continue;
        struct stat opened {};
        if (!fd.valid() || fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) return std::nullopt;
        UntrackedContent content;
        content.mode = (opened.st_mode & S_IXUSR) != 0 ? "100755" : "100644";
        if (static_cast<std::uint64_t>(opened.st_size) > limit) {
            content.overLimit = true;
            return content;
        }
        // One byte past the limit is enough to know a growing file is too large.
        content.bytes.reserve(static_cast<std::size_t>(opened.st_size));
        if (!ProjectDirectory::readUpTo(fd.get(), limit + 1, content.bytes)) return std::nullopt;
        if (content.bytes.size() > limit) {
            content.bytes.clear();
            content.overLimit = true;
        }
        return content;
    }
    return std::nullopt;
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

// ---------------------------------------------------------------------------------------------------
// Working-tree diffs

void GitService::fetchDiff(const Uuid& projectID, const std::vector<GitDiffTarget>& targets) {
    std::string key = "diff";
    addKeyField(key, projectID.string());
    for (const auto& target : targets) {
        addKeyField(key, target.path);
        addKeyField(key, std::to_string(static_cast<int>(target.stage)));
    }
    enqueue(
        projectID, Refusal::result, "git diff",
        [targets](GitService& self, const Project& project) { self.runDiff(project, targets); },
        std::move(key));
}

void GitService::runDiff(const Project& project, const std::vector<GitDiffTarget>& requested) {
    std::vector<GitDiffTarget> targets = requested;
    if (targets.empty()) targets = {{"", GitDiffStage::staged}, {"", GitDiffStage::unstaged}};
    GitDiffPayload payload;
    payload.projectId = project.id.string();
    std::size_t budget = diffAnswerLimit;
    for (const auto& target : targets) {
        if (auto file = buildDiffPayload(target, project, budget)) payload.files.push_back(std::move(*file));
    }
    send([&](GitServiceEventSink& sink) { sink.gitServiceDidLoadDiff(payload); });
}

std::vector<std::string> GitService::diffArguments(const GitDiffTarget& target, OutputMode mode, bool text) {
    std::vector<std::string> arguments{literalPathspecs, "diff"};
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
                                                               const Project& project, std::size_t& budget) {
    auto path = pagePath(requested.path);
    if (!path) return std::nullopt;
    GitDiffTarget target{*path, requested.stage};
    if (target.stage == GitDiffStage::unstaged && !target.path.empty() &&
        isUntrackedFile(target.path, project.metadata)) {
        return buildDiffPayloadForUntracked(target, project, budget);
    }
    if (isMissingRemote(project.id)) return std::nullopt;

    auto numstat =
        runGitBounded(diffArguments(target, OutputMode::numstat), project.metadata, diffAnswerLimit);
    if (!numstat.ok()) {
        handleGitError(numstat.error(), "git diff --numstat", project.id);
        return std::nullopt;
    }
    auto counts = parseNumstat(numstat.value().text);
    // Text mode for text only: a binary file keeps git's short notice instead of its raw bytes.
    auto patch = runGitBounded(diffArguments(target, OutputMode::patch, !counts.isBinary), project.metadata,
                               fileLimit(budget));
    if (!patch.ok()) {
        handleGitError(patch.error(), "git diff", project.id);
        return std::nullopt;
    }
    std::string patchText = std::move(patch.value().text);
    if (numstat.value().overLimit || patch.value().overLimit || sentSize(patchText) > fileLimit(budget)) {
        patchText = GitPatchText::binaryNotice(patchText);
        counts = {0, 0, true};
    }
    budget -= std::min(budget, sentSize(patchText));
    if (isBlank(patchText) && counts.additions == 0 && counts.deletions == 0 && !counts.isBinary) {
        return std::nullopt;
    }
    return GitDiffFilePayload{requested.path.empty() ? "." : requested.path,
                              target.stage,
                              counts.additions,
                              counts.deletions,
                              counts.isBinary,
                              std::move(patchText)};
}

bool GitService::isUntrackedFile(const std::string& path, const ProjectMetadata& project) {
    if (path.empty()) return false;
    auto result = runGit({literalPathspecs, "ls-files", "--error-unmatch", "--", path}, project, false, true);
    return !result.ok() && result.error().kind() == GitError::Kind::commandFailed;
}

std::optional<GitDiffFilePayload> GitService::buildDiffPayloadForUntracked(const GitDiffTarget& target,
                                                                           const Project& project,
                                                                           std::size_t& budget) {
    // Read through the project's descriptor and written as git would: git given the name would follow a
    // folder swapped for a link after any check of ours.
    auto root = ProjectDirectory::open(folder(project.metadata));
    if (!root) return std::nullopt;
    const std::size_t limit = fileLimit(budget);
    auto content = readUntracked(*root, target.path, limit);
    if (!content) return std::nullopt;
    auto file = GitPatchText::newFile(target.path, content->mode, content->bytes, content->overLimit);
    std::string patch = ProcessGitProcessRunner::decodeLossy(std::move(file.patch));
    if (sentSize(patch) > limit) {
        file = GitPatchText::newFile(target.path, content->mode, {}, true);
        patch = ProcessGitProcessRunner::decodeLossy(std::move(file.patch));
    }
    budget -= std::min(budget, sentSize(patch));
    return GitDiffFilePayload{target.path, target.stage, file.additions, 0, file.isBinary, std::move(patch)};
}

// ---------------------------------------------------------------------------------------------------
// Commit diffs

void GitService::fetchCommitDiff(const Uuid& projectID, const std::string& commit,
                                 const std::optional<std::string>& path) {
    std::string key = "commit";
    addKeyField(key, projectID.string());
    addKeyField(key, commit);
    if (path) addKeyField(key, *path);
    enqueue(
        projectID, Refusal::result, path ? "git diff" : "git show --numstat",
        [commit, path](GitService& self, const Project& project) {
            self.runCommitDiff(project, commit, path);
        },
        std::move(key));
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

void GitService::runCommitDiff(const Project& project, const std::string& requestedCommit,
                               const std::optional<std::string>& path) {
    std::string commit(GitOutputText::trim(requestedCommit));
    // A revision that starts with "-" would be read as an option ("--output=<file>" writes a file): it
    // never reaches git, and is answered as git's refusal of an unknown revision is.
    const bool refused = commit.empty() || commit.starts_with('-');
    if (refused)
        handleGitError(unknownRevision(commit), path ? "git diff" : "git show --numstat", project.id);

    GitCommitDiffPayload payload;
    payload.projectId = project.id.string();
    payload.commit = commit;
    if (!path) {
        if (!refused) payload.files = buildCommitDiffSummary(commit, project);
    } else if (auto file = refused ? std::nullopt : buildCommitDiffPayload(commit, path, project)) {
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
    // "--no-patch" would silence "--numstat" too: an empty format leaves only the counts. NUL-separated
    // records keep paths as they are, where lines would quote them; a rename's record is "A\tD\t", then
    // the old path and the new one. A list over the limit keeps the files before the cut.
    auto result = runGitBounded({"show", "-z", commit, "--numstat", "--format=", "--find-renames"},
                                project.metadata, diffFileLimit);
    if (!result.ok()) {
        handleGitError(result.error(), "git show --numstat", project.id);
        return {};
    }
    std::string_view output = result.value().text;
    if (result.value().overLimit) output = output.substr(0, output.rfind('\0') + 1);
    std::vector<std::string_view> records;
    for (std::size_t start = 0; start < output.size();) {
        std::size_t end = output.find('\0', start);
        if (end == std::string_view::npos) end = output.size();
        records.push_back(output.substr(start, end - start));
        start = end + 1;
    }
    std::vector<GitCommitDiffFilePayload> files;
    for (std::size_t i = 0; i < records.size(); ++i) {
        std::string_view record = records[i];
        while (!record.empty() && (record.front() == '\n' || record.front() == '\r')) record.remove_prefix(1);
        auto fields = GitOutputText::split(record, "\t");
        if (fields.size() < 3) continue;
        std::string path(fields[2]);
        for (std::size_t k = 3; k < fields.size(); ++k) path.append("\t").append(fields[k]);
        if (path.empty()) {
            if (i + 2 >= records.size()) break;
            path = std::string(records[i + 2]);
            i += 2;
        }
        GitCommitDiffFilePayload file;
        file.commit = commit;
        file.path = ProcessGitProcessRunner::decodeLossy(std::move(path));
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
        arguments = {literalPathspecs, "diff", commit + "^!"};
        if (mode == OutputMode::numstat) {
            arguments.emplace_back("--numstat");
        } else {
            arguments.insert(arguments.end(), {"--patch", "--text"});
        }
        arguments.emplace_back("--find-renames");
    } else if (mode == OutputMode::numstat) {
        arguments = {
            literalPathspecs, "diff-tree", "--no-commit-id", "--root", "--numstat", "-r", "-M", commit};
    } else {
        arguments = {
            literalPathspecs, "show", commit, "--pretty=format:", "--patch", "--text", "--find-renames"};
    }
    if (path && !path->empty()) arguments.insert(arguments.end(), {"--", *path});
    return arguments;
}

std::vector<std::string> GitService::mergeCommitPatchArguments(const std::string& commit,
                                                               const std::optional<std::string>& path) {
    std::vector<std::string> arguments{literalPathspecs,   "show",    "-m",     commit,
                                       "--pretty=format:", "--patch", "--text", "--find-renames"};
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
    auto numstat = runGitBounded(commitDiffArguments(commit, OutputMode::numstat, path, parents),
                                 project.metadata, diffAnswerLimit);
    if (!numstat.ok()) {
        handleGitError(numstat.error(), parents != 0 ? "git diff --numstat" : "git diff-tree --numstat",
                       project.id);
        return std::nullopt;
    }
    auto counts = parseNumstat(numstat.value().text);
    auto patchArguments = commitDiffArguments(commit, OutputMode::patch, path, parents);
    // Text mode for text only: a binary file keeps git's short notice instead of its raw bytes.
    if (counts.isBinary) std::erase(patchArguments, std::string("--text"));
    auto patch = runGitBounded(patchArguments, project.metadata, diffFileLimit);
    if (!patch.ok()) {
        handleGitError(patch.error(), parents != 0 ? "git diff" : "git show", project.id);
        return std::nullopt;
    }
    BoundedOutput output = std::move(patch.value());
    if (parents >= 2 && !output.overLimit && isBlank(output.text)) {
        auto arguments = mergeCommitPatchArguments(commit, path);
        if (counts.isBinary) std::erase(arguments, std::string("--text"));
        auto merged = runGitBounded(arguments, project.metadata, diffFileLimit);
        if (!merged.ok()) {
            handleGitError(merged.error(), "git show -m", project.id);
            return std::nullopt;
        }
        output = std::move(merged.value());
    }
    std::string patchText = std::move(output.text);
    if (numstat.value().overLimit || output.overLimit || sentSize(patchText) > diffFileLimit) {
        patchText = GitPatchText::binaryNotice(patchText);
        counts = {0, 0, true};
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
