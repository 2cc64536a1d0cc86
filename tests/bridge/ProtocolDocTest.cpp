// docs/protocol.md, the page's contract, lists exactly the message types that the bridge routes and
// exactly the event types that the native layer can send.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "bridge/MessageRoutes.hpp"

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

class ProtocolDoc : public ::testing::Test {
  protected:
    void SetUp() override {
        text_ = readAll(repositoryRoot() / "docs/protocol.md");
        ASSERT_FALSE(text_.empty()) << repositoryRoot();
        ASSERT_NE(text_.find("\n## Page messages\n"), std::string::npos);
        ASSERT_NE(text_.find("\n## Events\n"), std::string::npos);
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

}  // namespace
}  // namespace pelko
