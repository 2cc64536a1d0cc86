// The GraphQL documents, the answer model and the commit records made from it.
#include <gtest/gtest.h>

#include "git/GitHubHistoryQueries.hpp"
#include "git/GitHubHistoryResponse.hpp"

namespace pelko {
namespace {

using Queries = GitHubHistoryQueries;

std::size_t count(std::string_view text, std::string_view part) {
    std::size_t found = 0;
    for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++found;
    return found;
}

TEST(GitHubHistoryQueriesTest, DocumentsAreSentAsTheyStand) {
    EXPECT_EQ(Queries::commitHistory.size(), 1898u);
    EXPECT_EQ(Queries::commitHistoryWithoutFiles.size(), 1570u);
    EXPECT_EQ(Queries::commitGraph.size(), 668u);
    EXPECT_TRUE(Queries::commitHistory.starts_with(
        "query CommitHistory($owner: String!, $name: String!, $qualifiedName: String!, $pageSize: Int!, "
        "$cursor: String) {\n  repository(owner: $owner, name: $name) {\n    ref(qualifiedName: "
        "$qualifiedName) {\n"));
    EXPECT_TRUE(Queries::commitGraph.starts_with(
        "query CommitGraph($owner: String!, $name: String!, $pageSize: Int!) {\n"));
    for (auto document : {Queries::commitHistory, Queries::commitHistoryWithoutFiles, Queries::commitGraph}) {
        EXPECT_TRUE(document.ends_with("\n  }\n}"));
    }
    EXPECT_EQ(count(Queries::commitHistory, "files(first: 100) {"), 2u);
    EXPECT_EQ(count(Queries::commitHistoryWithoutFiles, "files("), 0u);
    // Only the default branch's author asks for the avatar.
    auto avatar = Queries::commitHistoryWithoutFiles.find("avatarUrl");
    EXPECT_EQ(count(Queries::commitHistoryWithoutFiles, "avatarUrl"), 1u);
    EXPECT_GT(avatar, Queries::commitHistoryWithoutFiles.find("defaultBranchRef"));
    EXPECT_EQ(count(Queries::commitGraph, "pageInfo"), 0u);
    EXPECT_EQ(count(Queries::commitGraph, "cursor"), 0u);
}

TEST(GitHubHistoryQueriesTest, PageSizeSentIsClampedToWhatGitHubAccepts) {
    for (auto [asked, sent] : std::vector<std::pair<std::int64_t, std::int64_t>>{
             {0, 1}, {-5, 1}, {1, 1}, {20, 20}, {100, 100}, {101, 100}, {5000, 100}}) {
        EXPECT_EQ(Queries::historyVariables("o", "r", "b", asked, std::nullopt)["pageSize"], sent);
        EXPECT_EQ(Queries::graphVariables("o", "r", asked)["pageSize"], sent);
    }
    auto variables = Queries::historyVariables("octo", "repo", "feature/x", 20, std::string("C1"));
    EXPECT_EQ(variables, (Json{{"owner", "octo"},
                               {"name", "repo"},
                               {"qualifiedName", "refs/heads/feature/x"},
                               {"pageSize", 20},
                               {"cursor", "C1"}}));
    EXPECT_TRUE(Queries::historyVariables("o", "r", "b", 1, std::nullopt)["cursor"].is_null());
}

Json historyData(Json node, bool withPageInfo = true) {
    Json history = {{"edges", Json::array({Json{{"cursor", "x"}, {"node", std::move(node)}}})}};
    if (withPageInfo) history["pageInfo"] = {{"hasNextPage", true}, {"endCursor", nullptr}};
    return {{"repository", {{"ref", nullptr}, {"defaultBranchRef", {{"target", {{"history", history}}}}}}}};
}

TEST(GitHubHistoryQueriesTest, ModelDecodesStrictlyAndPageInfoOnlyWhenAsked) {
    Json node = {{"oid", "abc"}, {"committedDate", "2024-01-01T00:00:00Z"}};
    auto response = GitHubHistoryResponse::decode(historyData(node), true);
    EXPECT_FALSE(response.refHistory());
    ASSERT_TRUE(response.defaultBranchHistory());
    EXPECT_TRUE(response.defaultBranchHistory()->pageInfo->hasNextPage);
    EXPECT_FALSE(response.defaultBranchHistory()->pageInfo->endCursor);

    EXPECT_THROW(GitHubHistoryResponse::decode(historyData(node, false), true), DecodeError);
    EXPECT_NO_THROW(GitHubHistoryResponse::decode(historyData(node, false), false));
    EXPECT_FALSE(GitHubHistoryResponse::decode(Json{{"repository", nullptr}}, true).repository);
    EXPECT_FALSE(GitHubHistoryResponse::decode(Json::object(), true).defaultBranchHistory());

    const Json broken[] = {
        {{"oid", "abc"}},
        {{"oid", nullptr}, {"committedDate", "d"}},
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
        {Json::object(), "Unknown", std::nullopt},
        {nullptr, "Unknown", std::nullopt},
    };
    for (const auto& c : cases) {
        Json node = {{"oid", "abc"}, {"committedDate", "2024-01-01T00:00:00Z"}, {"author", c.author}};
        auto response = GitHubHistoryResponse::decode(historyData(node), true);
        auto edge = makeCommitEdgePayload(response.defaultBranchHistory()->edges[0].node, "remote");
        EXPECT_EQ(edge.author.name, c.name) << c.author.dump();
        EXPECT_EQ(edge.author.login, c.login) << c.author.dump();
        EXPECT_EQ(edge.messageHeadline, "");
        EXPECT_TRUE(edge.files.empty());
        EXPECT_EQ(edge.origin, "remote");
    }

    Json node = {{"oid", "abc"},
                 {"messageHeadline", "Fix"},
                 {"committedDate", "2024-01-01T00:00:00Z"},
                 {"files", {{"nodes", {{{"path", "a.c"}, {"additions", 3}, {"deletions", 1}}}}}}};
    auto response = GitHubHistoryResponse::decode(historyData(node), true);
    auto edge = makeCommitEdgePayload(response.defaultBranchHistory()->edges[0].node, "remote");
    EXPECT_EQ(
        edge.toJson().dump(),
        R"({"oid":"abc","messageHeadline":"Fix","author":{"name":"Unknown"},)"
        R"("committedDate":"2024-01-01T00:00:00Z","files":[{"path":"a.c","additions":3,"deletions":1}],)"
        R"("origin":"remote"})");
}

}  // namespace
}  // namespace pelko
