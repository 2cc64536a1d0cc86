// The GraphQL documents, the answer model, the commit records made from it and the commit graph's lanes.
#include <gtest/gtest.h>

#include "git/GitCommitGraphPayload.hpp"
#include "git/GitHubHistoryQueries.hpp"
#include "git/GitHubHistoryResponse.hpp"

namespace pelko {
namespace {

using Queries = GitHubHistoryQueries;

TEST(GitHubHistoryQueriesTest, DocumentsAreSentAsTheyStand) {
    EXPECT_EQ(Queries::commitHistory.size(), 1898u);
    EXPECT_EQ(Queries::commitHistoryWithoutFiles.size(), 1570u);
    EXPECT_EQ(Queries::commitGraph.size(), 668u);
}

TEST(GitHubHistoryQueriesTest, PageSizeSentIsClampedToWhatGitHubAccepts) {
    for (auto [asked, sent] : std::vector<std::pair<std::int64_t, std::int64_t>>{
             {0, 1}, {-5, 1}, {1, 1}, {100, 100}, {101, 100}, {5000, 100}}) {
        EXPECT_EQ(Queries::historyVariables("o", "r", "b", asked, std::nullopt)["pageSize"], sent);
        EXPECT_EQ(Queries::graphVariables("o", "r", asked)["pageSize"], sent);
    }
}

Json historyData(Json node, bool withPageInfo = true) {
    Json history = {{"edges", Json::array({Json{{"cursor", "x"}, {"node", std::move(node)}}})}};
    if (withPageInfo) history["pageInfo"] = {{"hasNextPage", true}, {"endCursor", nullptr}};
    return {{"repository", {{"ref", nullptr}, {"defaultBranchRef", {{"target", {{"history", history}}}}}}}};
}

TEST(GitHubHistoryQueriesTest, ModelDecodesStrictlyAndPageInfoOnlyWhenAsked) {
    Json node = {{"oid", "abc"}, {"committedDate", "2024-01-01T00:00:00Z"}};
    EXPECT_THROW(GitHubHistoryResponse::decode(historyData(node, false), true), DecodeError);
    EXPECT_NO_THROW(GitHubHistoryResponse::decode(historyData(node, false), false));
    EXPECT_FALSE(GitHubHistoryResponse::decode(Json{{"repository", nullptr}}, true).repository);

    const Json broken[] = {
        {{"oid", "abc"}},
        {{"oid", 5}, {"committedDate", "d"}},
        {{"oid", "abc"}, {"committedDate", "d"}, {"files", {{"nodes", {{{"path", "a"}, {"additions", 1}}}}}}},
        {{"oid", "abc"}, {"committedDate", "d"}, {"parents", {{"nodes", {Json::object()}}}}},
        {{"oid", "abc"}, {"committedDate", "d"}, {"author", "name"}},
    };
    for (const auto& bad : broken) {
        EXPECT_THROW(GitHubHistoryResponse::decode(historyData(bad), true), DecodeError) << bad.dump();
    }
}

TEST(GitHubHistoryQueriesTest, CommitRecordsTakeTheAuthorsDisplayName) {
    struct Case {
        Json author;
        std::string name;
        std::optional<std::string> login;
    };
    const Case cases[] = {
        {{{"name", "Ada"}, {"user", {{"login", "ada"}}}}, "Ada", "ada"},
        {{{"name", ""}, {"user", {{"login", "ada"}}}}, "ada", "ada"},
        {{{"name", nullptr}, {"user", {{"login", ""}}}}, "Unknown", ""},
        {{{"name", "Ada"}, {"user", nullptr}}, "Ada", std::nullopt},
        {nullptr, "Unknown", std::nullopt},
    };
    for (const auto& c : cases) {
        Json node = {{"oid", "abc"}, {"committedDate", "2024-01-01T00:00:00Z"}, {"author", c.author}};
        auto response = GitHubHistoryResponse::decode(historyData(node), true);
        auto edge = makeCommitEdgePayload(response.defaultBranchHistory()->edges[0].node, "remote");
        EXPECT_EQ(edge.author.name, c.name) << c.author.dump();
        EXPECT_EQ(edge.author.login, c.login) << c.author.dump();
    }
}

using CommitNode = GitHubHistoryResponse::CommitNode;

CommitNode commit(std::string oid, std::vector<std::string> parents) {
    CommitNode node;
    node.oid = std::move(oid);
    node.committedDate = "2024-01-01T00:00:00Z";
    GitHubHistoryResponse::ParentConnection connection;
    connection.nodes.emplace();
    for (auto& parent : parents) connection.nodes->push_back({std::move(parent)});
    node.parents = std::move(connection);
    return node;
}

std::vector<std::int64_t> lanes(const GitCommitGraphPayload& graph) {
    std::vector<std::int64_t> list;
    for (const auto& node : graph.nodes) list.push_back(node.lane);
    return list;
}

TEST(GitCommitGraphLayoutTest, LanesFollowChildrenAndParents) {
    using Edges = std::vector<GitCommitGraphEdgePayload>;
    struct Case {
        const char* title;
        std::vector<CommitNode> commits;
        std::vector<std::int64_t> lanes;
        Edges edges;
    };
    const Case cases[] = {
        {"linear history on lane 0",
         {commit("c3", {"c2"}), commit("c2", {"c1"}), commit("c1", {"c0"})},
         {0, 0, 0},
         {{"c3", "c2", 0}, {"c2", "c1", 0}, {"c1", "c0", 0}}},
        {"merge puts the second parent on the lowest free lane",
         {commit("m", {"p1", "p2"}), commit("p2", {"base"}), commit("p1", {"base"}), commit("base", {})},
         {0, 1, 0, 0},
         {{"m", "p1", 0}, {"m", "p2", 1}, {"p2", "base", 1}, {"p1", "base", 0}}},
        // The older child's lane wins; the newer child's lane stays taken.
        {"two children of one parent",
         {commit("a", {"p"}), commit("b", {"p"}), commit("p", {"q"}), commit("x", {})},
         {0, 1, 1, 2},
         {{"a", "p", 0}, {"b", "p", 1}, {"p", "q", 1}}},
        {"commit without parents frees nothing it did not hold",
         {commit("root", {}), commit("next", {})},
         {0, 0},
         {}},
    };
    for (const auto& c : cases) {
        auto graph = buildCommitGraphPayload("P", c.commits);
        EXPECT_EQ(lanes(graph), c.lanes) << c.title;
        EXPECT_EQ(graph.edges, c.edges) << c.title;
    }
}

TEST(GitCommitGraphLayoutTest, ColoursRepeatEveryEightLanesAndAuthorsFallBack) {
    std::vector<std::string> parents;
    for (int index = 0; index < 9; ++index) parents.push_back("p" + std::to_string(index));
    // An octopus of nine parents (more than GitHub returns, to reach lane 8).
    std::vector<CommitNode> commits{commit("m", parents)};
    for (const auto& parent : parents) commits.push_back(commit(parent, {}));
    auto graph = buildCommitGraphPayload("P", commits);
    ASSERT_EQ(graph.nodes.size(), 10u);
    EXPECT_EQ(graph.nodes[9].lane, 8);
    EXPECT_EQ(graph.nodes[9].branchColor, "#E57373");
    EXPECT_EQ(graph.nodes[2].branchColor, "#64B5F6");
    EXPECT_EQ(graph.nodes[8].branchColor, "#FFD54F");

    CommitNode named = commit("n", {});
    named.author = GitHubHistoryResponse::CommitAuthor{"", GitHubHistoryResponse::CommitUser{"octo"}};
    CommitNode anonymous = commit("a", {});
    anonymous.parents.reset();
    auto text = buildCommitGraphPayload("P", {named, anonymous});
    EXPECT_EQ(text.nodes[0].authorName, "octo");
    EXPECT_EQ(text.nodes[1].authorName, "Unknown");
}

}  // namespace
}  // namespace pelko
