// The branch map's bounds on real repositories: thousands of branches cost a fixed number of git runs,
// each run bounded in output and time; a budget of runs or work that runs out leaves answers
// undetermined, never guessed; a huge subject is cut between characters and read only in part.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>

#include "git/GitBranchMapProvider.hpp"
#include "git/GitTestSupport.hpp"
#include "git/support/PerRefBranchMap.hpp"

namespace pelko {
namespace {

using test::GitRepo;

// Counts the runs and checks that every one of them is bounded.
class CountingRunner final : public GitProcessRunning {
  public:
    GitProcessExecutionResult run(const std::vector<std::string>& arguments,
                                  const std::filesystem::path& directory,
                                  const std::map<std::string, std::string>& environment) override {
        std::lock_guard lock(mutex_);
        ++unbounded_;
        return runner_.run(arguments, directory, environment);
    }
    GitProcessExecutionResult runWithin(const std::vector<std::string>& arguments,
                                        const std::filesystem::path& directory,
                                        const std::map<std::string, std::string>& environment,
                                        const GitProcessLimits& limits) override {
        {
            std::lock_guard lock(mutex_);
            ++runs_;
            if (limits.maxStdout == 0 || limits.overall.count() == 0) ++unbounded_;
        }
        return runner_.runWithin(arguments, directory, environment, limits);
    }
    std::size_t runs() const {
        std::lock_guard lock(mutex_);
        return runs_;
    }
    std::size_t unbounded() const {
        std::lock_guard lock(mutex_);
        return unbounded_;
    }
    void reset() {
        std::lock_guard lock(mutex_);
        runs_ = 0;
        unbounded_ = 0;
    }

  private:
    ProcessGitProcessRunner runner_;
    mutable std::mutex mutex_;
    std::size_t runs_ = 0;
    std::size_t unbounded_ = 0;
};

// Loads a fast-import stream into `repo` and checks out main.
void import(const GitRepo& repo, const std::string& stream) {
    test::TempDir scratch;
    auto file = scratch.path() / "stream";
    std::ofstream(file, std::ios::binary) << stream;
    auto environment = test::isolatedGitEnvironment();
    auto result = ProcessGitProcessRunner().run(
        {"sh", "-c", "git fast-import --quiet < '" + file.string() + "' && git reset -q --hard main"},
        repo.path(), environment);
    ASSERT_EQ(result.status, 0) << result.stderr;
}

std::string data(const std::string& text) {
    return "data " + std::to_string(text.size()) + "\n" + text + "\n";
}

std::string commitText(const std::string& ref, int mark, std::optional<int> from, const std::string& message,
                       const std::string& file) {
    std::string text = "commit " + ref + "\nmark :" + std::to_string(mark) +
                       "\ncommitter Ada <ada@example.com> " + std::to_string(1700000000 + mark) + " +0000\n" +
                       data(message);
    if (from) text += "from :" + std::to_string(*from) + "\n";
    return text + "M 644 inline " + file + "\n" + data("line " + std::to_string(mark));
}

// A main line of 30 commits and `branches` branches: a third at main's tip, a third at older main
// commits, a third with `ownCommits` commits of their own.
std::string manyBranches(int branches, int ownCommits) {
    std::string stream;
    int mark = 0;
    for (int index = 1; index <= 30; ++index) {
        ++mark;
        stream += commitText("refs/heads/main", mark, index > 1 ? std::optional<int>(mark - 1) : std::nullopt,
                             "main " + std::to_string(index), "main.txt");
    }
    for (int index = 0; index < branches; ++index) {
        std::string ref = "refs/heads/b-" + std::to_string(index);
        if (index % 3 != 2) {
            int at = index % 3 == 0 ? 30 : 1 + index % 29;
            stream += "reset " + ref + "\nfrom :" + std::to_string(at) + "\n\n";
            continue;
        }
        std::optional<int> from = 1 + index % 30;
        for (int commit = 0; commit < ownCommits; ++commit) {
            stream += commitText(ref, ++mark, from, "work " + std::to_string(index),
                                 "own-" + std::to_string(index % 11) + ".txt");
            from = mark;
        }
    }
    return stream;
}

const GitBranchMapNodePayload* findNode(const GitBranchMapPayload& map, const std::string& name) {
    for (const auto& node : map.nodes) {
        if (node.name == name) return &node;
    }
    return nullptr;
}

TEST(GitBranchMapBoundsTest, ThousandsOfBranchesCostAFixedNumberOfBoundedRuns) {
    GitRepo repo;
    import(repo, manyBranches(3000, 1));
    auto runner = std::make_shared<CountingRunner>();
    GitBranchMapProvider provider(runner, test::isolatedGitEnvironment());

    auto map = provider.loadBranchMap(test::projectAt(repo.path()), 50);
    EXPECT_EQ(map.totalCount, 3001);
    EXPECT_EQ(map.nodes.size(), 50u);
    EXPECT_EQ(runner->unbounded(), 0u);
    // Repository queries, two containment listings, one walk per kind, a batch of changes and
    // subjects, and one behind count per distinct fork point (30 here): never a run per branch.
    EXPECT_LE(runner->runs(), 60u);

    const auto* atTip = findNode(map, "b-0");
    ASSERT_TRUE(atTip);
    EXPECT_EQ(atTip->mergeState, "merged");
    EXPECT_EQ(atTip->integration, "fastForward");
    EXPECT_EQ(atTip->aheadOfBase, 0);
    EXPECT_EQ(atTip->behindBase, 0);
    EXPECT_EQ(atTip->parentConfidence, "estimated");
    EXPECT_EQ(atTip->recentSubject, "main 30");

    runner->reset();
    auto everyNode = provider.loadBranchMap(test::projectAt(repo.path()), 0);
    // Every node was asked for; those past the event's bound are counted as left out.
    EXPECT_EQ(everyNode.totalCount, 3001);
    EXPECT_EQ(static_cast<std::int64_t>(everyNode.nodes.size()) + everyNode.truncatedCount, 3001);
    EXPECT_GT(everyNode.nodes.size(), 1000u);
    EXPECT_LE(json::encode(everyNode.toJson()).size(), GitBranchMapProvider::maxEventBytes);
    EXPECT_LE(runner->runs(), 120u);
    std::size_t unmerged = 0;
    for (const auto& node : everyNode.nodes) {
        if (node.mergeState != "unmerged") continue;
        ++unmerged;
        EXPECT_EQ(node.aheadOfBase, 1) << node.name;
        EXPECT_EQ(node.changedFileCount, 1) << node.name;
        EXPECT_TRUE(node.parent) << node.name;
    }
    EXPECT_GT(unmerged, 100u);
}

TEST(GitBranchMapBoundsTest, SpentBudgetsLeaveAnswersUndeterminedNeverGuessed) {
    GitRepo repo;
    import(repo, manyBranches(150, 2));
    auto environment = test::isolatedGitEnvironment();
    auto runner = std::make_shared<CountingRunner>();
    auto project = test::projectAt(repo.path());
    auto expected = test::perref::loadBranchMap(*runner, environment, project, 0);

    GitBranchMapProvider::Limits limits;
    limits.branchRuns = 20;
    limits.work = 0;
    limits.containmentBits = 1;
    GitBranchMapProvider provider(runner, environment, limits);
    runner->reset();
    auto map = provider.loadBranchMap(project, 0);
    EXPECT_EQ(runner->unbounded(), 0u);
    EXPECT_LE(runner->runs(), 20u + 25u);
    ASSERT_EQ(map.nodes.size(), expected.nodes.size());

    std::size_t counted = 0;
    std::size_t undetermined = 0;
    for (const auto& node : map.nodes) {
        SCOPED_TRACE(node.name);
        const auto* truth = findNode(expected, node.name);
        ASSERT_TRUE(truth);
        if (node.isBase) continue;
        EXPECT_EQ(node.parentConfidence, "undetermined");
        EXPECT_FALSE(node.parent);
        if (node.aheadOfBase) {
            ++counted;
            EXPECT_EQ(node.aheadOfBase, truth->aheadOfBase);
            EXPECT_EQ(node.behindBase, truth->behindBase);
            if (node.mergeState != truth->mergeState) {
                EXPECT_EQ(node.mergeState, "undetermined");
                EXPECT_EQ(node.undeterminedReason, "historyTooLong");
            }
            if (node.changedFileCount) {
                EXPECT_EQ(node.changedFileCount, truth->changedFileCount);
            }
        } else {
            ++undetermined;
            EXPECT_EQ(node.mergeState, "undetermined");
            EXPECT_EQ(node.undeterminedReason, "historyTooLong");
        }
    }
    EXPECT_GT(counted, 0u);
    EXPECT_GT(undetermined, 100u);
}

TEST(GitBranchMapBoundsTest, AHugeSubjectIsCutBetweenCharactersAndReadOnlyInPart) {
    GitRepo repo;
    // "a" then two-byte characters: the cut falls inside one, which must go whole.
    std::string subject = "a";
    while (subject.size() < std::size_t{16} * 1024 * 1024) subject += "\xc3\xa9";
    std::string stream = commitText("refs/heads/main", 1, std::nullopt, "first", "a.txt");
    stream += commitText("refs/heads/main", 2, 1, subject, "a.txt");
    stream += "reset refs/heads/same\nfrom :2\n\nreset refs/heads/older\nfrom :1\n\n";
    import(repo, stream);

    auto runner = std::make_shared<CountingRunner>();
    GitBranchMapProvider provider(runner, test::isolatedGitEnvironment());
    auto map = provider.loadBranchMap(test::projectAt(repo.path()), 50);
    ASSERT_EQ(map.nodes.size(), 3u);
    for (const char* name : {"main", "same"}) {
        const auto* node = findNode(map, name);
        ASSERT_TRUE(node && node->recentSubject);
        const std::string& shown = *node->recentSubject;
        EXPECT_LE(shown.size(), GitBranchAnalysis::maxSubjectBytes + 3);
        EXPECT_GE(shown.size(), GitBranchAnalysis::maxSubjectBytes - 4);
        EXPECT_TRUE(shown.starts_with("a\xc3\xa9\xc3\xa9"));
        EXPECT_TRUE(shown.ends_with("\xc3\xa9\u2026")) << shown.substr(shown.size() - 8);
    }
    EXPECT_EQ(findNode(map, "older")->recentSubject, "first");
    EXPECT_LT(json::encode(map.toJson()).size(), std::size_t{64} * 1024);
    EXPECT_EQ(runner->unbounded(), 0u);
}

TEST(GitBranchMapBoundsTest, SubjectReadingsCutLongAndUnfinishedSubjects) {
    const std::string sha(40, 'a');
    const std::string other(40, 'b');
    std::string longSubject = "x" + std::string(3000, 'y');
    auto subjects =
        GitBranchAnalysis::parseSubjects(sha + " short\n" + other + " " + longSubject + "\n", false);
    EXPECT_EQ(subjects[sha], "short");
    EXPECT_EQ(subjects[other], longSubject.substr(0, GitBranchAnalysis::maxSubjectBytes) + "\u2026");

    // A reading stopped by its size limit: the last line is only the start of a subject, shown cut.
    auto cut = GitBranchAnalysis::parseSubjects(sha + " whole\n" + other + " start of", true);
    EXPECT_EQ(cut[sha], "whole");
    EXPECT_EQ(cut[other], "start of\u2026");
    EXPECT_TRUE(GitBranchAnalysis::parseSubjects(sha + " whole\n" + other + " start of", false).size() == 1);
    EXPECT_TRUE(GitBranchAnalysis::parseSubjects(std::string(20, 'a'), true).empty());
}

}  // namespace
}  // namespace pelko
