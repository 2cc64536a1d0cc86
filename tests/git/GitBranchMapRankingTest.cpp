// Overlaps, priorities, sorting and bounding of branch-map nodes.
#include <gtest/gtest.h>

#include "git/GitBranchMapRanking.hpp"

namespace pelko {
namespace {

using Ranking = GitBranchMapRanking;

GitBranchMapNodePayload node(std::string name, std::int64_t priority, std::optional<std::string> date = {}) {
    GitBranchMapNodePayload result;
    result.name = std::move(name);
    result.priority = priority;
    result.lastCommitDate = std::move(date);
    return result;
}

std::vector<std::string> names(const std::vector<GitBranchMapNodePayload>& nodes) {
    std::vector<std::string> list;
    for (const auto& entry : nodes) list.push_back(entry.name);
    return list;
}

TEST(GitBranchMapRankingTest, OverlapsNameEachOtherWithSortedSamples) {
    Ranking::Overlaps table({
        {"b", {"z.txt", "c.txt", "a.txt", "d", "e", "f", "g", "h"}},
        {"a", {"h", "g", "f", "e", "d", "c.txt", "b", "a.txt"}},
        {"c", {"only-c"}},
        {"d", {"z.txt"}},
    });
    using Overlaps = std::vector<GitBranchMapOverlapPayload>;
    const std::vector<std::string> samples{"a.txt", "c.txt", "d", "e", "f"};
    EXPECT_EQ(table.of("a"), (Overlaps{{"b", 7, samples}}));
    EXPECT_EQ(table.of("b"), (Overlaps{{"a", 7, samples}, {"d", 1, {"z.txt"}}}));
    EXPECT_EQ(table.of("d"), (Overlaps{{"b", 1, {"z.txt"}}}));
    EXPECT_TRUE(table.of("c").empty());
    EXPECT_EQ(table.overlapping(), (std::set<std::string>{"a", "b", "d"}));
    Ranking::Overlaps solo(std::vector<Ranking::OpenBranch>{{"solo", {"a"}}});
    EXPECT_TRUE(solo.of("solo").empty());
    EXPECT_TRUE(solo.overlapping().empty());
}

TEST(GitBranchMapRankingTest, PriorityFollowsTheFirstMatchingRule) {
    const Date now = *Date::parseIso("2024-06-30T12:00:00Z");
    auto make = [](std::string name) {
        GitBranchMapNodePayload entry = node(std::move(name), -1, "2024-06-20 10:00:00 +0200");
        entry.mergeState = "unmerged";
        entry.pushState = "pushed";
        return entry;
    };
    std::vector<GitBranchMapNodePayload> nodes;
    auto add = [&](std::string name, const std::function<void(GitBranchMapNodePayload&)>& change) {
        nodes.push_back(make(std::move(name)));
        change(nodes.back());
    };
    add("current", [](auto& n) { n.isCurrent = true; });
    add("contained", [](auto&) {});
    add("base", [](auto& n) { n.inUseByOtherWorktree = true; });
    add("worktree", [](auto& n) {
        n.inUseByOtherWorktree = true;
        n.pushState = "unpushed";
    });
    add("unpushed", [](auto& n) {
        n.pushState = "unpushed";
        n.mergeState = "undetermined";
    });
    add("overlapping", [](auto& n) { n.overlaps.push_back({"x", 1, {"a"}}); });
    add("sharing", [](auto&) {});
    add("followup", [](auto& n) {
        n.mergeState = "mergedWithFollowUp";
        n.isCleanupCandidate = true;
    });
    add("cleanup", [](auto& n) {
        n.mergeState = "merged";
        n.isCleanupCandidate = true;
    });
    add("recent", [](auto&) {});
    add("isoRecent", [](auto& n) { n.lastCommitDate = "2024-06-01T12:00:00Z"; });
    add("stale", [](auto& n) { n.lastCommitDate = "2024-05-20 10:00:00 +0200"; });
    add("undated", [](auto& n) { n.lastCommitDate.reset(); });
    add("garbled", [](auto& n) { n.lastCommitDate = "last Tuesday"; });
    Ranking::applyPriority(nodes, {"current", "contained", "base"}, {"sharing"}, now);
    std::map<std::string, std::int64_t> priorities;
    for (const auto& entry : nodes) priorities[entry.name] = entry.priority;
    EXPECT_EQ(priorities, (std::map<std::string, std::int64_t>{{"current", 0},
                                                               {"contained", 0},
                                                               {"base", 0},
                                                               {"worktree", 1},
                                                               {"unpushed", 2},
                                                               {"overlapping", 2},
                                                               {"sharing", 2},
                                                               {"followup", 3},
                                                               {"cleanup", 4},
                                                               {"recent", 5},
                                                               {"isoRecent", 5},
                                                               {"stale", 6},
                                                               {"undated", 6},
                                                               {"garbled", 6}}));
}

TEST(GitBranchMapRankingTest, BoundingKeepsTheCurrentAndBaseBranches) {
    auto list = [](std::initializer_list<const char*> spec) {
        // "c" marks the current branch, "b" the base; priorities follow the order.
        std::vector<GitBranchMapNodePayload> nodes;
        std::int64_t priority = 0;
        for (const char* name : spec) {
            auto entry = node(name, priority++);
            entry.isCurrent = std::string(name).starts_with("c");
            entry.isBase = std::string(name).starts_with("b");
            nodes.push_back(entry);
        }
        return nodes;
    };
    struct Case {
        const char* title;
        std::vector<GitBranchMapNodePayload> nodes;
        std::int64_t limit;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"fits", list({"x1", "x2"}), 2, {"x1", "x2"}},
        {"no limit", list({"x1", "x2", "x3"}), 0, {"x1", "x2", "x3"}},
        {"negative limit", list({"x1", "x2", "x3"}), -4, {"x1", "x2", "x3"}},
        {"plain cut", list({"x1", "x2", "x3"}), 2, {"x1", "x2"}},
        {"current replaces the last", list({"x1", "x2", "x3", "c"}), 2, {"x1", "c"}},
        {"base replaces the last", list({"x1", "x2", "b", "x3"}), 2, {"x1", "b"}},
        {"both replace the last two", list({"x1", "x2", "x3", "c", "b"}), 3, {"x1", "c", "b"}},
        {"limit one, both outside", list({"x1", "c", "b"}), 1, {"c", "b"}},
        // The base inside the limit is not what makes room for the current branch.
        {"kept node is never removed", list({"x1", "b", "x2", "c"}), 2, {"b", "c"}},
        {"only kept nodes inside", list({"b", "x1", "c"}), 1, {"b", "c"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(names(Ranking::boundedNodes(c.nodes, c.limit)), c.expected) << c.title;
    }
}

TEST(GitBranchMapRankingTest, OverlapListsAreBoundedAndOnlyOpenBranchesHaveThem) {
    std::vector<Ranking::OpenBranch> branches;
    for (int index = 0; index < 300; ++index)
        branches.push_back({"b" + std::to_string(1000 + index), {"shared.txt", std::string(3000, 'p')}});
    branches.push_back({"alone", {"own.txt"}});
    Ranking::Overlaps overlaps(branches);
    auto list = overlaps.of("b1000");
    ASSERT_EQ(list.size(), Ranking::maxOverlaps);
    EXPECT_EQ(list.front().branch, "b1001");
    EXPECT_EQ(list.front().fileCount, 2);
    ASSERT_EQ(list.front().samplePaths.size(), 2u);
    EXPECT_EQ(list.front().samplePaths[0].size(), Ranking::maxPathBytes);
    EXPECT_TRUE(overlaps.of("alone").empty());
    EXPECT_TRUE(overlaps.of("nobody").empty());
    auto names = overlaps.overlapping();
    EXPECT_EQ(names.size(), 300u);
    EXPECT_FALSE(names.contains("alone"));
}

TEST(GitBranchMapRankingTest, NodesPastTheByteBoundAreLeftOutButCurrentAndBaseStay) {
    std::vector<GitBranchMapNodePayload> nodes;
    for (const char* name : {"x1", "x2", "x3", "c", "x4", "b"}) {
        auto entry = node(name, 0);
        entry.isCurrent = std::string(name) == "c";
        entry.isBase = std::string(name) == "b";
        nodes.push_back(entry);
    }
    std::vector<std::string> completed;
    auto complete = [&](GitBranchMapNodePayload& entry) {
        completed.push_back(entry.name);
        entry.recentSubject = std::string(1000, 's');
    };
    // Room for the two kept nodes and two more.
    const std::size_t nodeBytes = json::encode([&] {
                                      auto sized = nodes[0];
                                      complete(sized);
                                      return sized.toJson();
                                  }())
                                      .size() +
                                  1;
    completed.clear();
    auto kept = Ranking::withinBytes(nodes, nodeBytes * 4 + nodeBytes / 2, complete);
    EXPECT_EQ(names(kept), (std::vector<std::string>{"x1", "x2", "c", "b"}));
    // The kept ones first, then in order up to the first that does not fit; nothing after it.
    EXPECT_EQ(completed, (std::vector<std::string>{"c", "b", "x1", "x2", "x3"}));
    EXPECT_EQ(names(Ranking::withinBytes(nodes, 1, complete)), (std::vector<std::string>{"c", "b"}));
    EXPECT_EQ(Ranking::withinBytes(nodes, 1 << 20, complete).size(), 6u);
}

}  // namespace
}  // namespace pelko
