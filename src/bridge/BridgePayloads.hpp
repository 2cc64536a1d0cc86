#pragma once
// The bridge's own event payloads: plain values, each encoded by `toJson` with its keys in field
// order, absent optionals left out (never null), project and session identifiers as upper-case UUID
// text. The file events' records live with the file operations (ProjectFileOperations.hpp).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/PreviewTabWarning.hpp"
#include "config/PreviewTabsState.hpp"
#include "explorer/ExplorerDirectorySnapshot.hpp"
#include "platform/Json.hpp"
#include "terminal/TerminalSnapshotPayload.hpp"

namespace pelko {

struct AppConfig;
struct ProjectMetadata;

// Nested in "app/config".
struct ProjectPayload {
    std::string id;
    std::string name;
    std::string rootPath;
    std::vector<std::string> explorerExcludedPaths;

    static ProjectPayload from(const ProjectMetadata& project);
    Json toJson() const;
};

// "app/config"
struct ConfigSnapshotPayload {
    std::vector<ProjectPayload> projects;
    std::optional<std::string> activeProjectId;
    std::vector<std::string> columnLayout;
    std::vector<TerminalSnapshotPayload::Session> cliSessions;
    std::vector<std::string> features;
    bool hasSavedWorkspace = false;
    std::optional<std::vector<ProjectPayload>> resumeProjects;

    // Sessions as "pending" without size or process; root paths as stored (tilde kept).
    static ConfigSnapshotPayload from(const AppConfig& config);
    Json toJson() const;
};

// "project/activate"
struct ActivationPayload {
    std::string id;
    std::string name;
    std::string rootPath;

    Json toJson() const;
};

// "previewTab:hydrate"
struct PreviewTabsHydratePayload {
    std::string projectId;
    PreviewTabsState snapshot;

    Json toJson() const;
};

// "previewTab:warning"
struct PreviewTabWarningPayload {
    std::string projectId;
    std::vector<PreviewTabWarning> tabs;

    Json toJson() const;
};

// "terminal/status"
struct TerminalStatusPayload {
    std::string sessionId;
    std::string status;
    std::optional<std::int64_t> exitCode;

    Json toJson() const;
};

// "terminal/exit"
struct TerminalExitPayload {
    std::string sessionId;
    std::int64_t exitCode = 0;

    Json toJson() const;
};

// "terminal/error"
struct TerminalErrorPayload {
    std::string sessionId;
    std::string message;
    bool recoverable = true;

    Json toJson() const;
};

// "terminal/output": `chunk` is the base64 text of the output bytes.
struct TerminalOutputPayload {
    std::string sessionId;
    std::string chunk;
    std::string encoding = "base64";

    Json toJson() const;
};

// "terminal/activity"
struct TerminalActivityPayload {
    std::string sessionId;

    Json toJson() const;
};

// "terminal/resize"
struct TerminalResizePayload {
    std::string sessionId;
    std::int64_t cols = 0;
    std::int64_t rows = 0;

    Json toJson() const;
};

// "layout/column-pinch"; `direction` is "expand" or "collapse".
struct ColumnPinchPayload {
    std::string direction;
    double magnitude = 0;
    double normalizedX = 0;
    double normalizedY = 0;
    double locationX = 0;
    double locationY = 0;
    double scaleFactor = 0;
    double timestamp = 0;

    Json toJson() const;
};

// "project/explorer/directories"
struct ExplorerDirectoriesPayload {
    std::string projectId;
    std::string requestId;
    std::vector<ExplorerDirectorySnapshot> directories;

    Json toJson() const;
};

// "project/explorer/changed"
struct ExplorerChangedPayload {
    std::string projectId;
    std::vector<std::string> directoryPaths;
    bool requiresResync = false;

    Json toJson() const;
};

// "project/resume/error"; `reason` is "no-projects" or "config-unavailable".
struct ResumeErrorPayload {
    std::string reason;
    std::string message;

    Json toJson() const;
};

// "dashboard.toggled"
struct DashboardTogglePayload {
    bool open = false;

    Json toJson() const;
};

// "dashboard.metrics.error"
struct DashboardErrorPayload {
    std::string message;

    Json toJson() const;
};

// "system/metrics/error"
struct SystemMetricsErrorPayload {
    std::string message;

    Json toJson() const;
};

// "git/result"
struct GitResultPayload {
    bool success = false;
    std::string message;

    Json toJson() const;
};

}  // namespace pelko
