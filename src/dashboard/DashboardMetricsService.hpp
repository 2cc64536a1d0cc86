#pragma once
// DashboardMetricsService: the dashboard's numbers: per project its branch, commit counts (all time,
// today, the last 30 local days and the 30 before), last commit date, 28-day heatmap and language mix,
// and the totals over all projects.
//
// `snapshotRequest` reads the project list on the main thread; `fetchSnapshot` blocks its caller,
// never waits for the main thread, and computes every project of the request as one task on the
// service's bounded pool (made by the first snapshot that has projects), `git` commands one after
// another inside a task.
// Nothing fails outward: a failing `git` command or language source degrades to its default value.
// Whole snapshots are cached for five minutes, each project's tech stack for five minutes on its own
// (a forced snapshot reads neither cache but refills both). The snapshot cache is meant for one caller
// at a time (the controller never runs two computations); the tech-stack cache is guarded by its own
// lock. Day boundaries are local days of the given calendar; window bounds are half-open, so a commit
// on a boundary counts in one window.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "config/DashboardProjectProviding.hpp"
#include "dashboard/DashboardLanguagesProviding.hpp"
#include "dashboard/DashboardMetricsServicing.hpp"
#include "dashboard/GregorianCalendar.hpp"
#include "git/GitProcessRunning.hpp"
#include "platform/AnalyticsLogging.hpp"
#include "platform/ConcurrentQueue.hpp"
#include "platform/Date.hpp"

namespace pelko {

class DashboardMetricsService final : public DashboardMetricsServicing {
  public:
    static constexpr unsigned maximumConcurrentProjects = 8;

    DashboardMetricsService(std::shared_ptr<DashboardProjectProviding> projectProvider,
                            std::shared_ptr<DashboardLanguagesProviding> languagesProvider,
                            std::shared_ptr<GitProcessRunning> processRunner,
                            std::shared_ptr<AnalyticsLogging> analyticsLogger,
                            std::function<Date()> clock = &Date::now,
                            GregorianCalendar calendar = GregorianCalendar::current());

    SnapshotRequest snapshotRequest(bool forceRefresh) const override;
    DashboardSnapshot fetchSnapshot(const SnapshotRequest& request) override;

    // Language bytes of the project's own files by extension, by allocated size; hidden entries and
    // dependency or build folders are not visited. Empty for a missing folder.
    static LanguageByteCounts computeLocalLanguageBreakdown(const ProjectMetadata& project);
    // The total (saturating) and the five largest languages with their shares.
    static DashboardProjectSummary::TechStack buildTechStack(const LanguageByteCounts& languages);
    // One decimal place; 100 when there was nothing before and something now.
    static double deltaPercent(std::int64_t last30, std::int64_t previous30);

  private:
    struct Windows;
    struct ProjectComputation;
    struct CachedSnapshot {
        DashboardSnapshot snapshot;
        Date expiresAt;
    };
    struct CachedLanguages {
        DashboardProjectSummary::TechStack techStack;
        Date expiresAt;
    };

    std::optional<Windows> windows(Date now) const;
    ProjectComputation computeProject(const ProjectMetadata& project, const Windows& windows, Date now,
                                      bool useCache);
    std::optional<std::string> resolveBranch(const std::filesystem::path& folder);
    std::int64_t revListCount(const std::filesystem::path& folder, std::optional<Date> since,
                              std::optional<Date> until);
    std::optional<Date> resolveLastCommitDate(const std::filesystem::path& folder);
    std::vector<DashboardHeatmapCell> resolveHeatmap(const std::filesystem::path& folder, Date start,
                                                     Date end);
    DashboardProjectSummary::TechStack resolveTechStack(const ProjectMetadata& project, Date timestamp,
                                                        bool useCache);
    void logLanguagesUnavailable(const ProjectMetadata& project, const std::string& reason,
                                 const std::string& errorDescription);
    Date fiveMinutesAfter(Date date) const;

    std::shared_ptr<DashboardProjectProviding> projectProvider_;
    std::function<Date()> clock_;
    std::shared_ptr<DashboardLanguagesProviding> languagesProvider_;
    GregorianCalendar calendar_;
    GregorianCalendar utcCalendar_;
    std::shared_ptr<GitProcessRunning> processRunner_;
    std::shared_ptr<AnalyticsLogging> analyticsLogger_;
    std::optional<CachedSnapshot> cache_;
    std::unordered_map<Uuid, CachedLanguages> languagesCache_;
    std::mutex languagesCacheLock_;
    std::optional<ConcurrentQueue> pool_;
};

}  // namespace pelko
