#include "dashboard/DashboardMetricsService.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string_view>
#include <thread>

#include "dashboard/DashboardGitCommand.hpp"
#include "git/GitCurrentBranch.hpp"
#include "git/GitOutputText.hpp"
#include "platform/MainQueue.hpp"

namespace pelko {

namespace {

constexpr std::int64_t fiveMinutesInMilliseconds = 5 * 60 * 1000;
constexpr int heatmapDays = 28;

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

// git reads both bounds inclusively and commit dates are whole seconds: ending each window one second
// before the next one starts keeps a commit on the boundary out of the earlier window.
std::string untilBound(Date exclusiveEnd) {
    return "--until=" + Date::fromMilliseconds(exclusiveEnd.milliseconds() - 1000).isoMilliseconds();
}

std::string sinceBound(Date start) {
    return "--since=" + start.isoMilliseconds();
}

const std::unordered_map<std::string_view, std::string_view>& localLanguageMapping() {
    static const std::unordered_map<std::string_view, std::string_view> mapping = {
        {"ts", "TypeScript"},  {"tsx", "TypeScript"}, {"js", "JavaScript"}, {"jsx", "JavaScript"},
        {"mjs", "JavaScript"}, {"cjs", "JavaScript"}, {"swift", "Swift"},   {"sh", "Shell"},
        {"bash", "Shell"},     {"zsh", "Shell"},      {"py", "Python"},     {"rb", "Ruby"},
        {"go", "Go"},          {"rs", "Rust"},        {"java", "Java"},     {"kt", "Kotlin"},
        {"kts", "Kotlin"},     {"css", "CSS"},        {"scss", "CSS"},      {"less", "CSS"},
        {"html", "HTML"},      {"md", "Markdown"},    {"json", "JSON"},     {"yml", "YAML"},
        {"yaml", "YAML"},
    };
    return mapping;
}

constexpr std::array<std::string_view, 7> directoriesToSkip = {".git", "node_modules", "vendor",     "build",
                                                               "dist", ".build",       "deriveddata"};

// The extension after the last dot of a name that does not start with it.
std::string_view extensionOf(std::string_view name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return name.substr(dot + 1);
}

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

}  // namespace

struct DashboardMetricsService::Windows {
    Date todayStart;
    Date tomorrowStart;
    Date heatmapStart;
    Date last30Start;
    Date previous30Start;
};

struct DashboardMetricsService::ProjectComputation {
    DashboardProjectSummary summary;
    std::int64_t totalCommits = 0;
    std::int64_t todaysCommits = 0;
    std::int64_t last30DayCommits = 0;
    std::int64_t previous30DayCommits = 0;
};

DashboardMetricsService::DashboardMetricsService(
    std::shared_ptr<DashboardProjectProviding> projectProvider,
    std::shared_ptr<DashboardLanguagesProviding> languagesProvider,
    std::shared_ptr<GitProcessRunning> processRunner, std::shared_ptr<AnalyticsLogging> analyticsLogger,
    std::function<Date()> clock, GregorianCalendar calendar)
    : projectProvider_(std::move(projectProvider)),
      clock_(std::move(clock)),
      languagesProvider_(std::move(languagesProvider)),
      calendar_(calendar),
      utcCalendar_(calendar.utc()),
      processRunner_(std::move(processRunner)),
      analyticsLogger_(std::move(analyticsLogger)) {}

DashboardMetricsServicing::SnapshotRequest DashboardMetricsService::snapshotRequest(bool forceRefresh) const {
    PELKO_REQUIRE_MAIN_THREAD();
    return SnapshotRequest{forceRefresh, projectProvider_->listActiveProjects()};
}

DashboardSnapshot DashboardMetricsService::fetchSnapshot(const SnapshotRequest& request) {
    const bool forceRefresh = request.forceRefresh;
    const auto& projects = request.projects;
    const Date now = clock_();
    if (!forceRefresh && cache_ && now < cache_->expiresAt) return cache_->snapshot;

    DashboardSnapshot snapshot;
    snapshot.generatedAt = now;
    auto bounds = windows(now);
    if (!projects.empty() && bounds) {
        // Made on first use, so an application whose dashboard never opens starts no pool threads.
        if (!pool_) {
            pool_.emplace("app.pelko.dashboard.projects",
                          std::clamp(std::thread::hardware_concurrency(), 2u, maximumConcurrentProjects));
        }
        // Each task writes only its own slot; the barrier orders those writes before the reads below.
        std::vector<std::optional<ProjectComputation>> results(projects.size());
        for (std::size_t index = 0; index < projects.size(); ++index) {
            pool_->async([&, index] {
                try {
                    results[index] = computeProject(projects[index], *bounds, now, !forceRefresh);
                } catch (const std::exception&) {
                    // A project that cannot be computed is left out, like one without a result.
                }
            });
        }
        pool_->barrier();

        for (auto& result : results) {
            if (!result) continue;
            snapshot.totalCommits = saturatingAdd(snapshot.totalCommits, result->totalCommits);
            snapshot.todaysCommits = saturatingAdd(snapshot.todaysCommits, result->todaysCommits);
            snapshot.last30DayCommits = saturatingAdd(snapshot.last30DayCommits, result->last30DayCommits);
            snapshot.previous30DayCommits =
                saturatingAdd(snapshot.previous30DayCommits, result->previous30DayCommits);
            snapshot.projectSummaries.push_back(std::move(result->summary));
        }
        snapshot.last30DayDeltaPercent =
            deltaPercent(snapshot.last30DayCommits, snapshot.previous30DayCommits);
    }
    cache_ = CachedSnapshot{snapshot, fiveMinutesAfter(now)};
    return snapshot;
}

std::optional<DashboardMetricsService::Windows> DashboardMetricsService::windows(Date now) const {
    Windows result;
    result.todayStart = calendar_.startOfDay(now);
    result.tomorrowStart = calendar_.startOfDay(now, 1).value_or(result.todayStart);
    auto heatmapStart = calendar_.startOfDay(now, -(heatmapDays - 1));
    auto last30Start = calendar_.startOfDay(now, -29);
    auto previous30Start = calendar_.startOfDay(now, -59);
    if (!heatmapStart || !last30Start || !previous30Start) return std::nullopt;
    result.heatmapStart = *heatmapStart;
    result.last30Start = *last30Start;
    result.previous30Start = *previous30Start;
    return result;
}

DashboardMetricsService::ProjectComputation DashboardMetricsService::computeProject(
    const ProjectMetadata& project, const Windows& windows, Date now, bool useCache) {
    const auto folder = dashboard_git::projectFolder(project);
    ProjectComputation computation;
    computation.totalCommits = revListCount(folder, std::nullopt, std::nullopt);
    computation.todaysCommits = revListCount(folder, windows.todayStart, windows.tomorrowStart);
    computation.last30DayCommits = revListCount(folder, windows.last30Start, windows.tomorrowStart);
    computation.previous30DayCommits = revListCount(folder, windows.previous30Start, windows.last30Start);

    auto& summary = computation.summary;
    summary.projectId = project.id;
    summary.projectName = project.name;
    summary.branch = resolveBranch(folder).value_or("HEAD");
    summary.commitCount = computation.totalCommits;
    summary.lastCommitAt = resolveLastCommitDate(folder);
    summary.heatmap = resolveHeatmap(folder, windows.heatmapStart, windows.todayStart);
    summary.techStack = resolveTechStack(project, now, useCache);
    return computation;
}

std::optional<std::string> DashboardMetricsService::resolveBranch(const std::filesystem::path& folder) {
    auto result = dashboard_git::run(*processRunner_, GitCurrentBranch::headArguments, folder);
    if (result.status != 0) return std::nullopt;
    std::string branch = GitCurrentBranch::shortName(result.stdout);
    if (branch.empty()) return std::nullopt;
    return branch;
}

std::int64_t DashboardMetricsService::revListCount(const std::filesystem::path& folder,
                                                   std::optional<Date> since, std::optional<Date> until) {
    std::vector<std::string> arguments = {"rev-list", "--count", "HEAD"};
    if (since) arguments.push_back(sinceBound(*since));
    if (until) arguments.push_back(untilBound(*until));
    auto result = dashboard_git::run(*processRunner_, std::move(arguments), folder);
    if (result.status != 0) return 0;
    return GitOutputText::parseInteger(GitOutputText::trim(result.stdout)).value_or(0);
}

std::optional<Date> DashboardMetricsService::resolveLastCommitDate(const std::filesystem::path& folder) {
    auto result = dashboard_git::run(*processRunner_, {"log", "-1", "--pretty=%cI"}, folder);
    if (result.status != 0) return std::nullopt;
    return Date::parseIso(GitOutputText::trim(result.stdout));
}

std::vector<DashboardHeatmapCell> DashboardMetricsService::resolveHeatmap(const std::filesystem::path& folder,
                                                                          Date start, Date end) {
    Date until = calendar_.startOfDay(end, 1).value_or(end);
    auto result = dashboard_git::run(
        *processRunner_, {"log", sinceBound(start), untilBound(until), "--pretty=%cI", "--no-merges"},
        folder);

    std::unordered_map<std::int64_t, std::int64_t> counts;  // local day start (ms) -> commits
    if (result.status == 0) {
        std::string_view output = result.stdout;
        std::size_t position = 0;
        while (position < output.size()) {
            std::size_t lineEnd = output.find_first_of("\n\r\v\f", position);
            if (lineEnd == std::string_view::npos) lineEnd = output.size();
            auto line = GitOutputText::trim(output.substr(position, lineEnd - position));
            position = lineEnd + 1;
            if (line.empty()) continue;
            if (auto date = Date::parseIso(line)) ++counts[calendar_.startOfDay(*date).milliseconds()];
        }
    }

    std::vector<DashboardHeatmapCell> cells;
    cells.reserve(heatmapDays);
    for (int offset = 0; offset < heatmapDays; ++offset) {
        auto dayStart = calendar_.startOfDay(start, offset);
        if (!dayStart) continue;
        auto found = counts.find(dayStart->milliseconds());
        Date cellDate = utcCalendar_.date(calendar_.day(*dayStart)).value_or(*dayStart);
        cells.push_back(DashboardHeatmapCell{cellDate, found == counts.end() ? 0 : found->second});
    }
    return cells;
}

DashboardProjectSummary::TechStack DashboardMetricsService::resolveTechStack(const ProjectMetadata& project,
                                                                             Date timestamp, bool useCache) {
    std::optional<CachedLanguages> cached;
    {
        std::lock_guard lock(languagesCacheLock_);
        if (auto found = languagesCache_.find(project.id); found != languagesCache_.end())
            cached = found->second;
    }
    const bool cacheIsFresh = cached && timestamp < cached->expiresAt;
    if (useCache && cacheIsFresh) return cached->techStack;

    LanguageByteCounts languages;
    try {
        languages = languagesProvider_->fetchLanguages(project);
        if (languages.empty()) {
            logLanguagesUnavailable(project, "empty_response", "");
            languages = computeLocalLanguageBreakdown(project);
        }
    } catch (const std::exception& error) {
        logLanguagesUnavailable(project, "error", error.what());
        if (cacheIsFresh) return cached->techStack;
        languages = computeLocalLanguageBreakdown(project);
    }

    auto techStack = buildTechStack(languages);
    std::lock_guard lock(languagesCacheLock_);
    languagesCache_[project.id] = CachedLanguages{techStack, fiveMinutesAfter(timestamp)};
    return techStack;
}

void DashboardMetricsService::logLanguagesUnavailable(const ProjectMetadata& project,
                                                      const std::string& reason,
                                                      const std::string& errorDescription) {
    AnalyticsProperties properties{
        {"projectId", project.id.string()}, {"projectName", project.name}, {"reason", reason}};
    if (!errorDescription.empty()) properties.emplace("error", errorDescription);
    analyticsLogger_->log("dashboard_languages_unavailable", properties);
}

Date DashboardMetricsService::fiveMinutesAfter(Date date) const {
    return Date::fromMilliseconds(date.milliseconds() + fiveMinutesInMilliseconds);
}

double DashboardMetricsService::deltaPercent(std::int64_t last30, std::int64_t previous30) {
    if (previous30 < 1) return last30 > 0 ? 100 : 0;
    double change =
        (static_cast<double>(last30) - static_cast<double>(previous30)) / static_cast<double>(previous30);
    return std::round(change * 100 * 10) / 10;
}

LanguageByteCounts DashboardMetricsService::computeLocalLanguageBreakdown(const ProjectMetadata& project) {
    LanguageByteCounts languages;
    const auto root = dashboard_git::projectFolder(project);
    std::vector<std::filesystem::path> pending{root};
    bool atRoot = true;
    while (!pending.empty()) {
        auto folder = std::move(pending.back());
        pending.pop_back();
        // The root may be a link to the project's folder; links inside it are never walked into.
        int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (atRoot ? 0 : O_NOFOLLOW));
        atRoot = false;
        if (fd < 0) continue;
        std::unique_ptr<DIR, DirectoryCloser> directory(::fdopendir(fd));
        if (!directory) {
            ::close(fd);
            continue;
        }
        while (const dirent* entry = ::readdir(directory.get())) {
            std::string_view name = entry->d_name;
            if (name.empty() || name.front() == '.') continue;
            std::string lowerName = GitOutputText::lowercased(name);
            if (std::find(directoriesToSkip.begin(), directoriesToSkip.end(), lowerName) !=
                directoriesToSkip.end()) {
                continue;
            }
            unsigned char type = entry->d_type;
            struct stat info {};
            bool haveInfo = false;
            if (type == DT_UNKNOWN) {
                if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
                haveInfo = true;
                type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
            }
            if (type == DT_DIR) {
                pending.push_back(folder / std::string(name));
                continue;
            }
            if (type != DT_REG) continue;
            auto language = localLanguageMapping().find(GitOutputText::lowercased(extensionOf(name)));
            if (language == localLanguageMapping().end()) continue;
            if (!haveInfo && ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (!S_ISREG(info.st_mode)) continue;
            // Allocated size, as the disk holds it; st_blocks counts 512-byte units.
            std::int64_t size = std::max<std::int64_t>(0, static_cast<std::int64_t>(info.st_blocks));
            size = size > std::numeric_limits<std::int64_t>::max() / 512
                       ? std::numeric_limits<std::int64_t>::max()
                       : size * 512;
            auto& total = languages[std::string(language->second)];
            total = saturatingAdd(total, size);
        }
    }
    return languages;
}

DashboardProjectSummary::TechStack DashboardMetricsService::buildTechStack(
    const LanguageByteCounts& languages) {
    std::int64_t total = 0;
    for (const auto& [name, bytes] : languages)
        total = saturatingAdd(total, std::max<std::int64_t>(bytes, 0));
    DashboardProjectSummary::TechStack stack;
    if (total < 1) return stack;
    std::vector<DashboardProjectSummary::TechStackEntry> entries;
    for (const auto& [name, bytes] : languages)
        entries.push_back({name, std::max<std::int64_t>(bytes, 0), 0});
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.bytes > b.bytes; });
    if (entries.size() > 5) entries.resize(5);
    for (auto& entry : entries) entry.ratio = static_cast<double>(entry.bytes) / static_cast<double>(total);
    stack.totalBytes = total;
    stack.languages = std::move(entries);
    return stack;
}

}  // namespace pelko
