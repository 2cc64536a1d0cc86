// docs/protocol.md, the page's contract, lists exactly the message types that the bridge routes and
// exactly the event types that the native layer can send, gives each event the keys its record writes,
// names the error codes the file operations send, and states the limits the code has.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "bridge/BridgeContext.hpp"
#include "bridge/BridgePayloads.hpp"
#include "bridge/FileMessages.hpp"
#include "bridge/FilePayloads.hpp"
#include "bridge/GitOAuthErrorPayload.hpp"
#include "bridge/MessageRoutes.hpp"
#include "bridge/ProjectFileTestSupport.hpp"
#include "bridge/WebBridge.hpp"
#include "config/PreviewTabsState.hpp"
#include "dashboard/SystemMetricsSnapshot.hpp"
#include "git/GitBranchAnalysis.hpp"
#include "git/GitBranchMapPayload.hpp"
#include "git/GitBranchMapProvider.hpp"
#include "git/GitBranchMapRanking.hpp"
#include "git/GitCommitHistoryPayload.hpp"
#include "git/GitRefreshBarrierPayload.hpp"
#include "git/GitRemoteTrackingPayload.hpp"
#include "git/GitService.hpp"
#include "git/GitStatusPayload.hpp"
#include "github/GitOAuthStatusPayload.hpp"
#include "platform/MainQueue.hpp"
#include "terminal/TerminalCreatedPayload.hpp"
#include "terminal/TerminalSnapshotPayload.hpp"

namespace pelko {
namespace {

// The repository, found from this file's path (absolute, or relative to the build folder, where
// the tests run).
std::filesystem::path repositoryRoot() {
    return std::filesystem::absolute(std::filesystem::path(__FILE__))
        .parent_path()
        .parent_path()
        .parent_path();
}

std::string readAll(const std::filesystem::path& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The types in the first cell of each table row between `from` and the next "## " heading.
std::set<std::string> listedTypes(const std::string& text, const std::string& from) {
    std::set<std::string> types;
    std::istringstream lines(text.substr(text.find(from) + from.size()));
    for (std::string line; std::getline(lines, line) && line.rfind("## ", 0) != 0;) {
        if (line.rfind("| `", 0) != 0) continue;
        std::string cell = line.substr(1, line.find('|', 1) - 1);
        for (std::size_t open = cell.find('`'); open != std::string::npos; open = cell.find('`', open)) {
            std::size_t close = cell.find('`', open + 1);
            types.insert(cell.substr(open + 1, close - open - 1));
            open = close + 1;
        }
    }
    return types;
}

struct SentEvents {
    std::set<std::string> types;
    std::vector<std::string> unreadable;  // call sites whose event type the scan cannot tell
};

// Every event type the sources can send. Events leave through `dispatchEvent`, `dispatchEventLater`
// (a `BridgeEvent`) or `EventScript::build`; each call's first argument must be a literal, a
// `k...Event` constant of the same file, or one of the known forwarding forms (after the context
// argument of the static form), so a call site the
// scan cannot read fails the test instead of being missed.
SentEvents scanSentEvents(const std::filesystem::path& sources) {
    static const std::regex call(
        R"((dispatchEvent|dispatchEventLater|EventScript::build)\(\s*|BridgeEvent\{\s*)");
    static const std::regex literal(R"(^\{?\s*"([^"]+)\")");
    static const std::regex constant(R"(^\{?\s*(k\w+Event)\b)");
    static const std::regex contextArgument(R"(^(weak|weak_from_this\(\)),\s*)");
    static const std::regex constantDefinition(R"re(constexpr const char\* (k\w+Event) = "([^"]+)")re");
    // A parameter (declaration), a forwarded type or event, a script's own DOM event, or a
    // `BridgeEvent` made by the file operations (whose constants are read below).
    static const std::regex forwarded(
        R"(^(const |BridgeEvent |type\b|event\.type\b|event\b|std::move\(event\)|new |ProjectFileOperations::)|^\)|^$)");
    SentEvents sent;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(sources)) {
        auto extension = entry.path().extension();
        if (extension != ".cpp" && extension != ".hpp") continue;
        std::string text = readAll(entry.path());
        std::map<std::string, std::string> constants;
        for (std::sregex_iterator it(text.begin(), text.end(), constantDefinition), end; it != end; ++it) {
            constants[(*it)[1]] = (*it)[2];
            sent.types.insert((*it)[2]);
        }
        for (std::sregex_iterator it(text.begin(), text.end(), call), end; it != end; ++it) {
            std::string rest = text.substr(it->position() + it->length(), 80);
            if (it->str().rfind("BridgeEvent{", 0) == 0) rest = "{" + rest;
            rest = std::regex_replace(rest, contextArgument, "", std::regex_constants::format_first_only);
            std::smatch match;
            if (std::regex_search(rest, match, literal)) {
                sent.types.insert(match[1]);
            } else if (std::regex_search(rest, match, constant) && constants.count(match[1])) {
                sent.types.insert(constants[match[1]]);
            } else if (!std::regex_search(rest, forwarded)) {
                sent.unreadable.push_back(entry.path().filename().string() + ": " + it->str() + rest);
            }
        }
    }
    return sent;
}

// The field names a description lists at its own level, in order: backticked names outside any
// parentheses, brackets, braces or quotes, up to the first ";", ":" or ". " at that level (what
// follows is prose).
std::vector<std::string> fieldNames(const std::string& text) {
    static const std::regex identifier(R"(^[A-Za-z][A-Za-z0-9]*$)");
    std::vector<std::string> names;
    int depth = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '`' || c == '"') {
            std::size_t close = text.find(c, at + 1);
            if (close == std::string::npos) break;
            std::string inside = text.substr(at + 1, close - at - 1);
            if (c == '`' && depth == 0 && std::regex_match(inside, identifier)) names.push_back(inside);
            at = close;
        } else if (c == '(' || c == '[' || c == '{') {
            ++depth;
        } else if (c == ')' || c == ']' || c == '}') {
            --depth;
        } else if (depth == 0 && (c == ';' || c == ':' || (c == '.' && text.compare(at, 2, ". ") == 0))) {
            break;
        }
    }
    return names;
}

// The keys of an encoded record, in order.
std::vector<std::string> keysOf(const Json& payload) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : payload.items()) keys.push_back(key);
    return keys;
}

// Each event's record, with every optional key present.
std::map<std::string, Json> fullRecords() {
    const Uuid id = Uuid::random();
    const std::string text = id.string();
    TerminalSnapshotPayload::Session session{text, "CLI #1", "/w", "ready", text, 80, 24, 42};
    TerminalSnapshotPayload snapshot;
    snapshot.sessions = {session};
    ConfigSnapshotPayload config;
    config.activeProjectId = text;
    config.resumeProjects = std::vector<ProjectPayload>{};
    GitOAuthStatusPayload status{"connected", GitOAuthAccountPayload{"ada", "https://a"}, "2026", true, "x"};
    GitRemoteTrackingPayload tracking{text, "main", "origin/main", 1, 2};
    TerminalCreatedPayload created;
    return {
        {"app/config", config.toJson()},
        {"project/activate", ActivationPayload{text, "n", "/r"}.toJson()},
        {"project/resume/error", ResumeErrorPayload{"no-projects", "m"}.toJson()},
        {"previewTab:hydrate", PreviewTabsHydratePayload{text, {}}.toJson()},
        {"previewTab:warning", PreviewTabWarningPayload{text, {}}.toJson()},
        {"layout/column-pinch", ColumnPinchPayload{"expand", 1, 2, 3, 4, 5, 6, 7}.toJson()},
        {"project/explorer/directories", ExplorerDirectoriesPayload{text, "r", {}}.toJson()},
        {"project/explorer/changed", ExplorerChangedPayload{text, {""}, false}.toJson()},
        {"project/file/content", FileContentPayload{id, "p", "c", "base64", "image/png"}.toJson()},
        {"project/file/confirm", FileConfirmationPayload{id, "p", 3, 2, 4}.toJson()},
        {"project/file/error", FileErrorPayload{id, "p", "m", "rename_failed"}.toJson()},
        {"project/file/saved", FileSavedPayload{id, "p"}.toJson()},
        {"project/file/renamed", FileRenamedPayload{id, "p", "q", "file"}.toJson()},
        {"terminal/snapshot", snapshot.toJson()},
        {"terminal/created", created.toJson()},
        {"terminal/status", TerminalStatusPayload{text, "terminated", 1}.toJson()},
        {"terminal/exit", TerminalExitPayload{text, 1}.toJson()},
        {"terminal/error", TerminalErrorPayload{text, "m", true}.toJson()},
        {"terminal/output", TerminalOutputPayload{text, "AA==", "base64"}.toJson()},
        {"terminal/activity", TerminalActivityPayload{text}.toJson()},
        {"terminal/resize", TerminalResizePayload{text, 80, 24}.toJson()},
        {"git/status", GitStatusPayload::placeholder(id).toJson()},
        {"git/result", GitResultPayload{false, "m"}.toJson()},
        {"git/refresh/barrier", GitRefreshBarrierPayload{text, "r"}.toJson()},
        {"git/branch-map/error", GitBranchMapErrorPayload{text, "m"}.toJson()},
        {"git/history/error", GitCommitHistoryErrorPayload{text, "m", "r"}.toJson()},
        {"git/remote/tracking", tracking.toJson()},
        {"github/oauth/status", status.toJson()},
        {"github/oauth/error", GitOAuthErrorPayload{"m", true}.toJson()},
        {"dashboard.toggled", DashboardTogglePayload{true}.toJson()},
        {"dashboard.metrics.error", DashboardErrorPayload{"m"}.toJson()},
        {"system/metrics", SystemMetricsSnapshot{Date::now(), 1, 2}.toJson()},
        {"system/metrics/error", SystemMetricsErrorPayload{"m"}.toJson()},
    };
}

class ProtocolDoc : public ::testing::Test {
  protected:
    void SetUp() override {
        text_ = readAll(repositoryRoot() / "docs/protocol.md");
        ASSERT_FALSE(text_.empty()) << repositoryRoot();
        ASSERT_NE(text_.find("\n## Page messages\n"), std::string::npos);
        ASSERT_NE(text_.find("\n## Events\n"), std::string::npos);
    }
    // The description of an event: the second cell of its row in "## Events".
    std::string eventRow(const std::string& type) const {
        const std::string events = text_.substr(text_.find("\n## Events\n"));
        const std::string start = "\n| `" + type + "` | ";
        std::size_t at = events.find(start);
        if (at == std::string::npos) return {};
        at += start.size();
        return events.substr(at, events.find(" |\n", at) - at);
    }
    // The text of the convention that starts with "- **`name`.**", up to the next one.
    std::string convention(const std::string& name) const {
        const std::string start = "\n- **" + name + ".**";
        std::size_t at = text_.find(start);
        if (at == std::string::npos) return {};
        return text_.substr(at, text_.find("\n- **", at + 1) - at);
    }
    // The row of a page message in "## Page messages".
    std::string messageRow(const std::string& type) const {
        std::size_t at = text_.find("\n| `" + type + "`");
        return at == std::string::npos ? std::string() : text_.substr(at, text_.find('\n', at + 1) - at);
    }

    std::string text_;
};

TEST_F(ProtocolDoc, ListsEveryRoutedMessageTypeAndNoOther) {
    std::set<std::string> listed = listedTypes(text_, "\n## Page messages\n");
    std::vector<std::string> routes = MessageRoutes::types();
    std::set<std::string> routed(routes.begin(), routes.end());
    for (const auto& type : routed) EXPECT_TRUE(listed.count(type)) << type << " is routed but not listed";
    for (const auto& type : listed) EXPECT_TRUE(routed.count(type)) << type << " is listed but not routed";
}

TEST_F(ProtocolDoc, ListsEverySentEventTypeAndNoOther) {
    SentEvents sent = scanSentEvents(repositoryRoot() / "src");
    for (const auto& site : sent.unreadable) ADD_FAILURE() << "event type not readable at " << site;
    // The scan reads the sources, not a guess: the known senders of each kind must be among its finds.
    for (const char* known : {"app/config", "project/file/content", "project/explorer/directories",
                              "project/explorer/changed", "terminal/output", "git/status"})
        EXPECT_TRUE(sent.types.count(known)) << known;
    std::set<std::string> listed = listedTypes(text_, "\n## Events\n");
    for (const auto& type : sent.types) EXPECT_TRUE(listed.count(type)) << type << " is sent but not listed";
    for (const auto& type : listed)
        EXPECT_TRUE(sent.types.count(type)) << type << " is listed but never sent";
}

TEST_F(ProtocolDoc, EachEventListsTheKeysItsRecordWritesInOrder) {
    for (const auto& [type, payload] : fullRecords()) {
        const std::string row = eventRow(type);
        ASSERT_FALSE(row.empty()) << type;
        EXPECT_EQ(fieldNames(row), keysOf(payload)) << type << ": " << row;
    }
    // The session entries of "terminal/snapshot" and "app/config".
    const std::string start = "\nSession entries (`terminal/snapshot` and `app/config`): ";
    const std::size_t at = text_.find(start);
    ASSERT_NE(at, std::string::npos);
    TerminalSnapshotPayload::Session session{"i", "t", "/w", "ready", "p", 80, 24, 42};
    EXPECT_EQ(fieldNames(text_.substr(at + start.size(), text_.find("\n\n", at) - at - start.size())),
              keysOf(session.toJson()));
}

// Every event the document gives a `code` of its own is one whose record writes a `code`, and the
// codes it names for files are exactly the ones the file operations send, renames alone.
TEST_F(ProtocolDoc, ErrorCodesAreTheOnesTheCodeSends) {
    const auto records = fullRecords();
    std::set<std::string> withCode;
    for (const auto& type : listedTypes(text_, "\n## Events\n")) {
        auto fields = fieldNames(eventRow(type));
        if (std::find(fields.begin(), fields.end(), "code") == fields.end()) continue;
        withCode.insert(type);
        ASSERT_TRUE(records.count(type)) << type;
        EXPECT_TRUE(records.at(type).contains("code")) << type;
    }
    EXPECT_EQ(withCode, std::set<std::string>{"project/file/error"});

    const std::string errors = convention("Errors");
    ASSERT_FALSE(errors.empty());
    std::set<std::string> documented, sent;
    static const std::regex code(R"re("(rename_[a-z_]+)")re");
    for (std::sregex_iterator it(errors.begin(), errors.end(), code), end; it != end; ++it)
        documented.insert((*it)[1]);
    const std::string operations = readAll(repositoryRoot() / "src/bridge/ProjectFileOperations.cpp");
    for (std::sregex_iterator it(operations.begin(), operations.end(), code), end; it != end; ++it)
        sent.insert((*it)[1]);
    EXPECT_FALSE(sent.empty());
    EXPECT_EQ(documented, sent);

    // Reads and saves answer without a code; every failed rename with one of those codes.
    test::ProjectFolder project;
    ProjectFileOperations files;
    const Uuid& id = test::projectUuid();
    EXPECT_FALSE(files.readFile(id, project.root, "missing.txt", false).payload.contains("code"));
    EXPECT_FALSE(files.readFile(id, project.root, "../x", false).payload.contains("code"));
    EXPECT_FALSE(files.saveFile(id, project.root, "no/folder.txt", "x").payload.contains("code"));
    EXPECT_FALSE(files.saveFile(id, project.root, "../x", "x").payload.contains("code"));
    EXPECT_FALSE(ProjectFileOperations::readProjectMissing(id, "a").payload.contains("code"));
    EXPECT_FALSE(ProjectFileOperations::saveProjectMissing(id, "a").payload.contains("code"));
    test::writeFile(project.root / "a.txt", "a");
    test::writeFile(project.root / "b.txt", "b");
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{{"missing.txt", "n.txt"},
                                                                                   {"a.txt", "b.txt"},
                                                                                   {"a.txt", "x/a.txt"},
                                                                                   {"a.txt", "a:b"},
                                                                                   {"", "n"}}) {
        auto outcome = files.renameItem(id, project.root, from, to);
        ASSERT_EQ(outcome.events.size(), 1u) << from;
        EXPECT_TRUE(documented.count(outcome.events[0].payload.value("code", ""))) << from << " " << to;
    }
    EXPECT_TRUE(
        documented.count(ProjectFileOperations::renameProjectMissing(id, "a").payload.value("code", "")));

    // The error events the tables list are all named where the errors are explained.
    for (const auto& type : listedTypes(text_, "\n## Events\n")) {
        if (type.find("error") != std::string::npos) {
            EXPECT_NE(errors.find("`" + type + "`"), std::string::npos) << type;
        }
    }
}

TEST_F(ProtocolDoc, StatesTheLimitsTheCodeHas) {
    const std::string open = messageRow("project/file/open");
    EXPECT_NE(open.find(std::to_string(ProjectFileOperations::softLimitBytes) + " bytes"), std::string::npos);
    EXPECT_NE(open.find(std::to_string(ProjectFileOperations::hardLimitBytes) + " bytes"), std::string::npos);
    EXPECT_NE(open.find("web view takes, " + std::to_string(ScriptDelivery::maxScriptBytes) + " bytes"),
              std::string::npos);
    const std::string confirm = eventRow("project/file/confirm");
    EXPECT_NE(confirm.find("(" + std::to_string(ProjectFileOperations::softLimitBytes) + ")"),
              std::string::npos);
    EXPECT_NE(confirm.find("(" + std::to_string(ProjectFileOperations::hardLimitBytes) + ")"),
              std::string::npos);
    EXPECT_NE(messageRow("project/explorer/directories/request")
                  .find("more than " + std::to_string(FileMessages::maxExplorerPaths) + " distinct paths"),
              std::string::npos);
    const std::string diff = messageRow("git/diff");
    EXPECT_NE(diff.find(std::to_string(GitService::diffFileLimit >> 20) + " MiB"), std::string::npos);
    EXPECT_NE(diff.find(std::to_string(GitService::diffAnswerLimit >> 20) + " MiB"), std::string::npos);
    const std::string persist = messageRow("previewTabs/persist");
    EXPECT_NE(persist.find(std::to_string(PreviewTabsState::maxTabs) + " tabs"), std::string::npos);
    EXPECT_NE(persist.find(std::to_string(PreviewTabsState::maxEncodedBytes >> 20) + " MiB of JSON"),
              std::string::npos);
    EXPECT_NE(persist.find("stored as " + std::to_string(PreviewTabsState::currentVersion)),
              std::string::npos);
    EXPECT_NE(convention("Configuration").find(std::to_string(BridgeContext::keyringHold.count()) + " ms"),
              std::string::npos);
    EXPECT_NE(convention("Event order").find(std::to_string(MainQueue::overdueAfter.count()) + " ms"),
              std::string::npos);
    EXPECT_NE(convention("Receiving").find("last 200 events"), std::string::npos);
    EXPECT_NE(WebBridge::scriptTail().find("length > 200"), std::string::npos);
    EXPECT_NE(text_.find("**Values nested deeper than " + std::to_string(json::maxValueDepth) + " levels**"),
              std::string::npos);
}

// The branch map's bounds in the units the document gives them, and the parent confidences it names
// are the ones the sources write.
TEST_F(ProtocolDoc, StatesTheBranchMapsBounds) {
    auto kib = [](std::size_t bytes) {
        EXPECT_EQ(bytes % 1024, 0u) << bytes;
        return std::to_string(bytes >> 10) + " KiB";
    };
    const std::string event = eventRow("git/branch-map");
    const std::string request = messageRow("git/branch-map");
    ASSERT_EQ(GitBranchMapProvider::maxEventBytes % (1024 * 1024), 0u);
    const std::string eventBound = std::to_string(GitBranchMapProvider::maxEventBytes >> 20) + " MiB";
    EXPECT_NE(request.find("the event is at most " + eventBound), std::string::npos) << request;
    EXPECT_NE(event.find("the whole event is at most " + eventBound), std::string::npos);
    EXPECT_NE(event.find("subject's first " + kib(GitBranchAnalysis::maxSubjectBytes)), std::string::npos);
    EXPECT_NE(event.find("each `samplePaths` entry is at most " + kib(GitBranchMapRanking::maxPathBytes)),
              std::string::npos);
    EXPECT_NE(event.find("`worktreePath` at most " + kib(GitBranchMapProvider::maxWorktreePathBytes)),
              std::string::npos);
    EXPECT_NE(event.find("at most " + std::to_string(GitBranchMapRanking::maxOverlaps) + " entries"),
              std::string::npos);
    EXPECT_NE(event.find("name is longer than " + kib(GitBranchAnalysis::maxNameBytes)), std::string::npos);

    const std::string start = "`parentConfidence` (";
    const std::size_t at = event.find(start);
    ASSERT_NE(at, std::string::npos);
    const std::string listing = event.substr(at + start.size(), event.find(':', at) - at - start.size());
    static const std::regex quoted(R"re("([a-z]+)")re");
    std::set<std::string> documented, written;
    for (std::sregex_iterator it(listing.begin(), listing.end(), quoted), end; it != end; ++it)
        documented.insert((*it)[1]);
    // Assigned to the node, or handed out with a parent.
    static const std::regex assigned(R"re((parentConfidence = |Parent\{[^{}]*, )"([a-z]+)")re");
    for (const char* file :
         {"src/git/GitBranchMapProvider.cpp", "src/git/GitBranchAnalysisContainment.cpp"}) {
        const std::string text = readAll(repositoryRoot() / file);
        for (std::sregex_iterator it(text.begin(), text.end(), assigned), end; it != end; ++it)
            written.insert((*it)[2]);
    }
    EXPECT_TRUE(written.count("undetermined"));
    EXPECT_EQ(documented, written);
}

}  // namespace
}  // namespace pelko
