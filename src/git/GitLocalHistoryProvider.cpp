#include "git/GitLocalHistoryProvider.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "git/GitCurrentBranch.hpp"
#include "git/GitOutputText.hpp"
#include "git/GitQuotedPath.hpp"
#include "platform/Environment.hpp"
#include "platform/XdgFolders.hpp"

namespace pelko {
namespace {

using Text = GitOutputText;

constexpr char headerSeparator = '\x1f';
constexpr char recordSeparator = '\x1e';

Environment::Map makeEnvironment(Environment::Map environment) {
    environment["GIT_TERMINAL_PROMPT"] = "0";
    environment["GIT_OPTIONAL_LOCKS"] = "0";
    environment["LC_ALL"] = "C";
    return environment;
}

bool isLeadingBreak(std::string_view text, std::size_t& length) {
    static constexpr std::string_view breaks[] = {"\n",       "\v",           "\f",          "\r",
                                                  "\xc2\x85", "\xe2\x80\xa8", "\xe2\x80\xa9"};
    for (auto candidate : breaks) {
        if (text.starts_with(candidate)) {
            length = candidate.size();
            return true;
        }
    }
    return false;
}

std::optional<GitCommitEdgePayload> parseLogRecord(std::string_view record) {
    for (std::size_t length = 0; isLeadingBreak(record, length);) record.remove_prefix(length);
    if (record.empty()) return std::nullopt;
    auto lines = Text::split(record, "\n");

    std::vector<std::string_view> header;
    std::string_view rest = lines.front();
    while (header.size() < 3) {
        std::size_t end = rest.find(headerSeparator);
        if (end == std::string_view::npos) break;
        header.push_back(rest.substr(0, end));
        rest.remove_prefix(end + 1);
    }
    if (header.size() != 3) return std::nullopt;

    GitCommitEdgePayload edge;
    edge.oid = std::string(header[0]);
    edge.author.name = std::string(header[1]);
    edge.committedDate = std::string(header[2]);
    edge.messageHeadline = std::string(rest);
    edge.origin = "local";
    for (std::size_t index = 1; index < lines.size(); ++index) {
        if (lines[index].empty()) continue;
        auto fields = Text::split(lines[index], "\t");
        if (fields.size() < 3) continue;
        std::string path(fields[2]);
        for (std::size_t field = 3; field < fields.size(); ++field) {
            path += '\t';
            path += fields[field];
        }
        edge.files.push_back({GitQuotedPath::unquote(path), Text::parseInteger(fields[0]).value_or(0),
                              Text::parseInteger(fields[1]).value_or(0)});
    }
    return edge;
}

}  // namespace

GitLocalHistoryProvider::GitLocalHistoryProvider(std::shared_ptr<GitProcessRunning> processRunner,
                                                 Environment::Map environment, std::size_t logOutputLimit)
    : processRunner_(std::move(processRunner)),
      environment_(makeEnvironment(std::move(environment))),
      logOutputLimit_(logOutputLimit) {}

GitLocalHistoryPage GitLocalHistoryProvider::loadUnpushedHistory(const ProjectMetadata& metadata,
                                                                 std::int64_t offset, std::int64_t limit) {
    return loadHistory(metadata, offset, limit, false);
}

GitLocalHistoryPage GitLocalHistoryProvider::loadHistory(const ProjectMetadata& metadata, std::int64_t offset,
                                                         std::int64_t limit) {
    return loadHistory(metadata, offset, limit, true);
}

GitLocalHistoryPage GitLocalHistoryProvider::loadHistory(const ProjectMetadata& metadata, std::int64_t offset,
                                                         std::int64_t limit, bool includeUpstreamCommits) {
    const std::filesystem::path folder = metadata.rootFolder();
    const auto& environment = environment_;
    auto git = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "git");
        return processRunner_->run(arguments, folder, environment);
    };
    auto resolveRevision = [&](const std::string& revision) -> std::optional<std::string> {
        auto result = git({"rev-parse", revision});
        if (result.status != 0) {
            logger_.error(fmt::format("Failed to resolve revision {}: {}", revision, result.stderr));
            return std::nullopt;
        }
        auto hash = Text::trim(result.stdout);
        if (hash.empty()) return std::nullopt;
        return std::string(hash);
    };

    GitLocalHistoryPage page;
    // The upstream is resolved by its full name: a local branch named like it must not stand in for it.
    std::optional<std::string> upstreamRef;
    if (auto branch = git(GitCurrentBranch::headArguments); branch.status == 0) {
        if (auto name = GitCurrentBranch::shortName(branch.stdout); name != "HEAD") page.branch = name;
        auto upstream = git(GitCurrentBranch::upstreamArguments);
        auto fullName = Text::trim(upstream.stdout);
        if (upstream.status == 0 && !fullName.empty()) {
            upstreamRef = std::string(fullName);
            page.upstream = GitCurrentBranch::shortName(fullName);
        } else {
            logger_.debug(fmt::format("No upstream detected: {}", upstream.stderr));
        }
    }

    auto head = resolveRevision("HEAD");
    if (!head) return page;
    std::vector<std::string> range{*head};
    if (upstreamRef && !includeUpstreamCommits) {
        auto upstream = resolveRevision(*upstreamRef);
        if (!upstream) return page;
        range.insert(range.end(), {"--not", *upstream});
    }
    range.push_back("--");

    std::vector<std::string> countArguments{"rev-list", "--count"};
    countArguments.insert(countArguments.end(), range.begin(), range.end());
    auto count = git(countArguments);
    auto total = count.status == 0 ? Text::parseInteger(Text::trim(count.stdout)) : std::nullopt;
    if (!total) {
        logger_.error(fmt::format("Failed to count local commits: {}", count.stderr));
        return page;
    }
    page.totalCount = *total;
    if (*total <= 0 || limit < 1) return page;
    std::int64_t skip = std::max<std::int64_t>(0, std::min(offset, *total));
    if (skip >= *total) return page;

    std::vector<std::string> logArguments{"git",
                                          "log",
                                          "--skip=" + std::to_string(skip),
                                          "--max-count=" + std::to_string(limit),
                                          "--pretty=format:%x1e%H%x1f%an%x1f%cI%x1f%s",
                                          "--numstat",
                                          "--no-color"};
    logArguments.insert(logArguments.end(), range.begin(), range.end());
    GitProcessLimits limits;
    limits.maxStdout = logOutputLimit_;
    auto log = processRunner_->runWithin(logArguments, folder, environment, limits);
    if (log.status != 0 && !log.stdoutOverLimit) {
        logger_.error(fmt::format("Failed to read local commit page: {}", log.stderr));
        return page;
    }
    auto parsed = parseLogRecords(log.stdout, log.stdoutOverLimit);
    page.edges = std::move(parsed.edges);
    page.listedCount = parsed.listedCount;
    auto parsedCount = static_cast<std::int64_t>(page.edges.size());
    if (log.stdoutOverLimit) {
        logger_.notice(fmt::format("Local commit page cut at {} bytes after {} commits", logOutputLimit_,
                                   parsed.listedCount));
    } else if (parsedCount < std::min(limit, *total - skip)) {
        logger_.error(fmt::format("Parsed fewer local commits than requested: {}", parsedCount));
    }
    return page;
}

GitLocalHistoryProvider::ParsedLog GitLocalHistoryProvider::parseLogRecords(std::string_view output,
                                                                            bool cut) {
    ParsedLog parsed;
    std::vector<std::size_t> starts;
    for (std::size_t index = 0; index < output.size(); ++index) {
        if (output[index] == recordSeparator && (index == 0 || output[index - 1] == '\n'))
            starts.push_back(index);
    }
    if (cut) {
        // Its last line may stop anywhere, even inside a character or a path.
        std::size_t lastBreak = output.rfind('\n');
        output = output.substr(0, lastBreak == std::string_view::npos ? 0 : lastBreak + 1);
        // The record that was cut comes first on the next page; a first record stays, or paging would
        // never get past it.
        if (starts.size() > 1) {
            output = output.substr(0, starts.back());
            starts.pop_back();
        }
    }
    for (std::size_t which = 0; which < starts.size(); ++which) {
        std::size_t begin = std::min(starts[which] + 1, output.size());
        std::size_t end = which + 1 < starts.size() ? starts[which + 1] : output.size();
        ++parsed.listedCount;
        if (auto edge = parseLogRecord(output.substr(begin, end - begin)))
            parsed.edges.push_back(std::move(*edge));
    }
    return parsed;
}

}  // namespace pelko
