// docs/protocol.md, the page's contract, lists exactly the message types that the bridge routes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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

TEST(ProtocolDoc, ListsEveryRoutedMessageTypeAndNoOther) {
    std::ifstream file(repositoryRoot() / "docs/protocol.md");
    ASSERT_TRUE(file) << repositoryRoot();
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_NE(text.find("\n## Page messages\n"), std::string::npos);
    ASSERT_NE(text.find("\n## Events\n"), std::string::npos);

    std::set<std::string> listed = listedTypes(text, "\n## Page messages\n");
    std::vector<std::string> routes = MessageRoutes::types();
    std::set<std::string> routed(routes.begin(), routes.end());
    for (const auto& type : routed) EXPECT_TRUE(listed.count(type)) << type << " is routed but not listed";
    for (const auto& type : listed) EXPECT_TRUE(routed.count(type)) << type << " is listed but not routed";
}

}  // namespace
}  // namespace pelko
