// The GraphQL documents, the answer model and the commit records made from it.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace pelko
