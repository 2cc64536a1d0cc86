#pragma once
// DashboardProjectSummary: one project's line on the dashboard: branch, commits reachable from HEAD,
// last committer date, language mix and 28-day heatmap (oldest day first, the last one today).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dashboard/DashboardHeatmapCell.hpp"
#include "platform/Date.hpp"
#include "platform/Json.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

struct DashboardProjectSummary {
    struct TechStackEntry {
        std::string name;
        std::int64_t bytes = 0;  // never negative
        double ratio = 0;        // bytes / the stack's totalBytes

        Json toJson() const;
        static TechStackEntry fromJson(const Json& value);
        friend bool operator==(const TechStackEntry&, const TechStackEntry&) = default;
    };

    // All languages' bytes in `totalBytes`; at most five entries in `languages`, largest first.
    struct TechStack {
        std::int64_t totalBytes = 0;
        std::vector<TechStackEntry> languages;

        Json toJson() const;
        static TechStack fromJson(const Json& value);
        friend bool operator==(const TechStack&, const TechStack&) = default;
    };

    Uuid projectId;
    std::string projectName;
    std::string branch = "HEAD";
    std::int64_t commitCount = 0;
    std::optional<Date> lastCommitAt;
    TechStack techStack;
    std::vector<DashboardHeatmapCell> heatmap;

    // Keys in field order; "lastCommitAt" left out when absent.
    Json toJson() const;
    // Throws DecodeError for a missing key or a wrong type.
    static DashboardProjectSummary fromJson(const Json& value);

    friend bool operator==(const DashboardProjectSummary&, const DashboardProjectSummary&) = default;
};

}  // namespace pelko
