// GitBranchMapProvider against real repositories: merge states, parents, push states, worktrees and the
// repository states, with branch and tag names chosen to trip short ref names.
#include <gtest/gtest.h>

#include "git/GitBranchMapProvider.hpp"
#include "git/GitTestSupport.hpp"

namespace pelko {
namespace {

using test::GitRepo;

const GitBranchMapNodePayload* findNode(const GitBranchMapPayload& map, const std::string& name) {
    for (const auto& node : map.nodes) {
        if (node.name == name) return &node;
    }
    return nullptr;
}

class GitBranchMapProviderTest : public ::testing::Test {
  protected:
    GitBranchMapPayload load(const std::filesystem::path& path, std::int64_t limit = 50) {
        return provider.loadBranchMap(test::projectAt(path), limit);
    }
    GitBranchMapProvider provider{std::make_shared<ProcessGitProcessRunner>()};
};

TEST_F(GitBranchMapProviderTest, EveryKindOfBranchIsAnalysed) {
    GitRepo origin;
    std::string root = origin.commit("init");
    origin.git({"checkout", "-q", "-b", "remote-only"});
    origin.commit("remote work", "remote.txt");
    origin.git({"checkout", "-q", "main"});
    auto repo = GitRepo::cloneOf(origin);

    repo.git({"checkout", "-q", "-b", "ff"});
    repo.commit("ff work", "ff.txt");
    repo.git({"checkout", "-q", "main"});
    repo.git({"merge", "-q", "--ff-only", "ff"});

    repo.git({"checkout", "-q", "-b", "mergecommit"});
    repo.commit("side work", "side.txt");
    repo.git({"checkout", "-q", "main"});
    repo.commit("main work", "main.txt");
    repo.git({"merge", "-q", "--no-ff", "-m", "merge side", "mergecommit"});

    repo.git({"checkout", "-q", "-b", "followup"});
    repo.commit("follow one", "follow.txt");
    repo.git({"checkout", "-q", "main"});
    repo.git({"merge", "-q", "--no-ff", "-m", "merge follow", "followup"});
    repo.git({"checkout", "-q", "followup"});
    repo.commit("follow two", "follow-two.txt");

    repo.git({"checkout", "-q", "main"});
    repo.git({"branch", "fresh"});
    repo.git({"checkout", "-q", "-b", "unmerged"});
    repo.commit("shared change", "shared/a.txt", "unmerged\n");
    repo.git({"checkout", "-q", "-b", "child"});
    repo.commit("child work", "child.txt");
    repo.git({"checkout", "-q", "-b", "other", "main"});
    repo.commit("other shared change", "shared/a.txt", "other\n");
    repo.git({"checkout", "-q", "main"});
    // Names that short ref names would confuse: a local branch that looks remote-tracking, and a tag
    // named like a branch.
    repo.git({"branch", "origin/x", "mergecommit"});
    repo.git({"tag", "unmerged", root});
    test::TempDir elsewhere;
    repo.git({"worktree", "add", "-q", "-b", "wtbranch", (elsewhere.path() / "wt").string(), "main"});
    test::writeFile(repo.path() / "untracked.txt", "new\n");

    // Opened through a symbolic link: the project's own worktree must not count as another.
    test::TempDir links;
    std::filesystem::create_directory_symlink(repo.path(), links.path() / "link");
    auto map = load(links.path() / "link");

    EXPECT_EQ(map.repositoryState, "ready");
    EXPECT_EQ(map.baseBranch, "main");
    EXPECT_EQ(map.currentBranch, "main");
    EXPECT_EQ(map.headSha, repo.head());
    EXPECT_TRUE(map.hasRemote);
    EXPECT_FALSE(map.isShallow);
    EXPECT_EQ(map.totalCount, 11);
    EXPECT_EQ(map.truncatedCount, 0);
    EXPECT_FALSE(findNode(map, "HEAD"));
    EXPECT_FALSE(findNode(map, "origin"));
    EXPECT_FALSE(findNode(map, "x"));

    struct Expected {
        const char* name;
        const char* mergeState;
        std::optional<std::string> integration;
        std::optional<std::int64_t> ahead;
        const char* location;
        const char* pushState;
        bool cleanup;
        std::int64_t priority;
    };
    const Expected table[] = {
        {"main", "base", {}, {}, "localAndRemote", "unpushed", false, 0},
        {"ff", "merged", "fastForward", 0, "local", "noUpstream", true, 0},
        {"fresh", "merged", "fastForward", 0, "local", "noUpstream", true, 0},
        {"wtbranch", "merged", "fastForward", 0, "local", "noUpstream", true, 0},
        {"origin/x", "merged", "mergeCommit", 0, "local", "noUpstream", true, 0},
        {"mergecommit", "merged", "mergeCommit", 0, "local", "noUpstream", true, 0},
        {"followup", "mergedWithFollowUp", {}, 1, "local", "noUpstream", false, 3},
        {"unmerged", "unmerged", {}, 1, "local", "noUpstream", false, 2},
        {"child", "unmerged", {}, 2, "local", "noUpstream", false, 2},
        {"other", "unmerged", {}, 1, "local", "noUpstream", false, 2},
        {"remote-only", "unmerged", {}, 1, "remoteOnly", "pushed", false, 6},
    };
    for (const auto& expected : table) {
        SCOPED_TRACE(expected.name);
        const auto* node = findNode(map, expected.name);
        ASSERT_TRUE(node);
        EXPECT_EQ(node->mergeState, expected.mergeState);
        EXPECT_EQ(node->integration, expected.integration);
        EXPECT_EQ(node->aheadOfBase, expected.ahead);
        EXPECT_EQ(node->location, expected.location);
        EXPECT_EQ(node->pushState, expected.pushState);
        EXPECT_EQ(node->isCleanupCandidate, expected.cleanup);
        EXPECT_EQ(node->priority, expected.priority);
        EXPECT_EQ(node->hasUncommittedChanges, node->name == "main");
        EXPECT_FALSE(node->hasConflicts);
    }

    const auto* main = findNode(map, "main");
    EXPECT_TRUE(main->isCurrent && main->isBase);
    EXPECT_GT(main->unpushedCount.value_or(0), 0);
    EXPECT_EQ(main->worktreePath, std::filesystem::canonical(repo.path()).string());
    EXPECT_FALSE(main->inUseByOtherWorktree);
    const auto* worktree = findNode(map, "wtbranch");
    EXPECT_TRUE(worktree->inUseByOtherWorktree);
    EXPECT_EQ(worktree->worktreePath, std::filesystem::canonical(elsewhere.path() / "wt").string());

    EXPECT_EQ(findNode(map, "followup")->changedFileCount, 1);
    EXPECT_EQ(findNode(map, "child")->parent, "unmerged");
    EXPECT_EQ(findNode(map, "child")->parentConfidence, "estimated");
    EXPECT_EQ(findNode(map, "remote-only")->parent, "main");
    EXPECT_EQ(findNode(map, "remote-only")->parentConfidence, "confirmed");
    EXPECT_EQ(findNode(map, "remote-only")->unpushedCount, 0);

    using Overlaps = std::vector<GitBranchMapOverlapPayload>;
    const std::vector<std::string> shared{"shared/a.txt"};
    EXPECT_EQ(findNode(map, "unmerged")->overlaps, (Overlaps{{"child", 1, shared}, {"other", 1, shared}}));
    EXPECT_EQ(findNode(map, "other")->overlaps, (Overlaps{{"child", 1, shared}, {"unmerged", 1, shared}}));
    EXPECT_TRUE(findNode(map, "followup")->overlaps.empty());
    EXPECT_TRUE(findNode(map, "ff")->overlaps.empty());

    // Priority first, then newest date first within a priority.
    for (std::size_t index = 1; index < map.nodes.size(); ++index) {
        const auto& before = map.nodes[index - 1];
        const auto& after = map.nodes[index];
        EXPECT_TRUE(before.priority < after.priority ||
                    (before.priority == after.priority &&
                     before.lastCommitDate.value_or("") >= after.lastCommitDate.value_or("")));
    }

    auto bounded = load(links.path() / "link", 3);
    EXPECT_EQ(bounded.nodes.size(), 3u);
    EXPECT_EQ(bounded.totalCount, 11);
    EXPECT_EQ(bounded.truncatedCount, 8);
    EXPECT_TRUE(findNode(bounded, "main"));
}

TEST_F(GitBranchMapProviderTest, RepositoryStatesAndBaseWithoutOriginHead) {
    test::TempDir plain;
    EXPECT_EQ(load(plain.path()).repositoryState, "notARepository");
    EXPECT_EQ(load(plain.path() / "missing").repositoryState, "notARepository");
    GitRepo repo;
    auto noCommits = load(repo.path());
    EXPECT_EQ(noCommits.repositoryState, "noCommits");
    EXPECT_EQ(noCommits.toJson().dump().find("baseBranch"), std::string::npos);

    repo.git({"checkout", "-q", "-b", "master"});
    std::string first = repo.commit("first");
    repo.commit("second");
    repo.git({"checkout", "-q", first});
    auto map = load(repo.path());
    EXPECT_EQ(map.repositoryState, "detached");
    EXPECT_FALSE(map.currentBranch);
    EXPECT_EQ(map.headSha, first);
    EXPECT_EQ(map.baseBranch, "master");
    ASSERT_EQ(map.nodes.size(), 1u);
    EXPECT_TRUE(map.nodes[0].isBase && !map.nodes[0].isCurrent);
}

TEST_F(GitBranchMapProviderTest, ShallowCloneLeavesEveryBranchButTheBaseUndetermined) {
    GitRepo origin;
    origin.commit("one");
    origin.commit("two");
    auto clone = GitRepo::cloneOf(origin, {"--depth", "1", "--no-single-branch"});
    clone.git({"checkout", "-q", "-b", "topic"});
    clone.commit("topic work", "topic.txt");

    auto map = load(clone.path());
    EXPECT_TRUE(map.isShallow);
    const auto* topic = findNode(map, "topic");
    ASSERT_TRUE(topic);
    EXPECT_EQ(topic->mergeState, "undetermined");
    EXPECT_EQ(topic->undeterminedReason, "shallow");
    EXPECT_FALSE(topic->aheadOfBase);
    EXPECT_EQ(findNode(map, "main")->mergeState, "base");
}

TEST_F(GitBranchMapProviderTest, BranchOnlyOnASecondRemoteIsComparedThroughItsOwnCopy) {
    GitRepo origin;
    origin.commit("base");
    auto other = GitRepo::cloneOf(origin);
    other.git({"checkout", "-q", "-b", "extra"});
    other.commit("extra work", "extra.txt");
    auto clone = GitRepo::cloneOf(origin);
    clone.git({"remote", "add", "second", "file://" + other.path().string()});
    clone.git({"fetch", "-q", "second"});

    auto map = load(clone.path());
    const auto* extra = findNode(map, "extra");
    ASSERT_TRUE(extra);
    EXPECT_EQ(extra->location, "remoteOnly");
    EXPECT_EQ(extra->mergeState, "unmerged");
    EXPECT_EQ(extra->aheadOfBase, 1);
    EXPECT_EQ(extra->changedFileCount, 1);
    EXPECT_EQ(extra->pushState, "pushed");
}

}  // namespace
}  // namespace pelko
