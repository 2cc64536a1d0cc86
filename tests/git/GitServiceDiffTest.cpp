// Working-tree diffs, commit diffs and the working tree against real repositories, with the paths
// and revisions that must never reach git.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "git/GitTestSupport.hpp"

namespace pelko {
namespace {

using test::GitRepo;

class GitServiceDiffTest : public ::testing::Test {
  protected:
    test::GitServiceHarness h;
    GitRepo work{h.dir / "work"};
    Uuid id;

    void SetUp() override {
        work.git({"init", "-q"});
        work.commit("first", "tracked.txt", "one\ntwo\n");
        id = h.projects->add(work.path());
    }

    Json diff(const std::vector<GitDiffTarget>& targets) {
        h.sink->clear();
        h.service->fetchDiff(id, targets);
        EXPECT_TRUE(h.sink->waitForType("git/diff"));
        return h.sink->payloads("git/diff")[0]["files"];
    }
    Json commitDiff(const std::string& commit, std::optional<std::string> path = std::nullopt) {
        h.sink->clear();
        h.service->fetchCommitDiff(id, commit, path);
        EXPECT_TRUE(h.sink->waitForType("git/commit/diff"));
        return h.sink->payloads("git/commit/diff")[0];
    }
};

TEST_F(GitServiceDiffTest, WholeTreeStagedAndUnstaged) {
    work.write("tracked.txt", "one\nTWO\n");
    work.write("staged.txt", "s\n");
    work.git({"add", "staged.txt"});
    Json files = diff({});
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0]["path"], ".");
    EXPECT_EQ(files[0]["stage"], "staged");
    EXPECT_EQ(files[0]["additions"], 1);
    EXPECT_EQ(files[1]["stage"], "unstaged");
    EXPECT_EQ(files[1]["additions"], 1);
    EXPECT_EQ(files[1]["deletions"], 1);
    EXPECT_NE(files[1]["patch"].get<std::string>().find("+TWO"), std::string::npos);
}

TEST_F(GitServiceDiffTest, UntrackedBinaryLatin1AndModeOnlyFiles) {
    work.write("new.txt", "a\nb\nc\n");
    Json untracked = diff({{"new.txt", GitDiffStage::unstaged}, {"new.txt", GitDiffStage::staged}});
    ASSERT_EQ(untracked.size(), 1u);
    EXPECT_EQ(untracked[0]["additions"], 3);
    EXPECT_NE(untracked[0]["patch"].get<std::string>().find("+++ b/new.txt"), std::string::npos);

    work.write("image.bin", std::string("\x89PNG\0\0\xff\x01", 8));
    work.write("latin.txt", "caf\xe9\n");
    work.commitAll("more");
    work.write("image.bin", std::string("\x89PNG\0\1\xfe\x02", 8));
    work.write("latin.txt", "caf\xe9 au lait\n");
    ASSERT_EQ(chmod((work / "tracked.txt").c_str(), 0755), 0);
    work.write("fresh.bin", std::string("\0\1\2", 3));
    Json files = diff({{"image.bin", GitDiffStage::unstaged},
                       {"latin.txt", GitDiffStage::head},
                       {"tracked.txt", GitDiffStage::unstaged},
                       {"fresh.bin", GitDiffStage::unstaged}});
    ASSERT_EQ(files.size(), 4u);
    for (int binary : {0, 3}) {
        SCOPED_TRACE(binary);
        EXPECT_EQ(files[binary]["isBinary"], true);
        EXPECT_EQ(files[binary]["additions"], 0);
        EXPECT_NE(files[binary]["patch"].get<std::string>().find("Binary files"), std::string::npos);
    }
    // Lossy decoding keeps the text file's patch instead of emptying it.
    EXPECT_NE(files[1]["patch"].get<std::string>().find("+caf\xEF\xBF\xBD au lait"), std::string::npos);
    EXPECT_EQ(files[2]["additions"], 0);
    EXPECT_EQ(files[2]["isBinary"], false);
    EXPECT_NE(files[2]["patch"].get<std::string>().find("new mode 100755"), std::string::npos);
}

TEST_F(GitServiceDiffTest, PathsOutsideTheProjectAreRefused) {
    test::writeFile(h.dir / "outside.txt", "secret\n");
    std::filesystem::create_directory_symlink(h.dir.path(), work / "escape");
    const std::vector<std::string> refused = {"../outside.txt", (h.dir / "outside.txt").string(),
                                              "a/../../outside.txt", "escape/outside.txt",
                                              std::string("tracked.txt\0x", 13)};
    for (const auto& path : refused) {
        SCOPED_TRACE(path);
        for (auto stage : {GitDiffStage::unstaged, GitDiffStage::head}) {
            EXPECT_EQ(diff({{path, stage}}), Json::array());
        }
    }
    EXPECT_TRUE(h.sink->payloads("git/result").empty());
    // A name that looks like an option is still a file name.
    work.write("-n.txt", "dash\n");
    EXPECT_EQ(diff({{"-n.txt", GitDiffStage::unstaged}})[0]["additions"], 1);
}

TEST_F(GitServiceDiffTest, CommitSummariesRenamesRootAndMergeCommits) {
    std::string root = work.head();
    Json rootFile = commitDiff(" " + root + "\n", "tracked.txt");
    EXPECT_EQ(rootFile["commit"], root);
    ASSERT_EQ(rootFile["files"].size(), 1u);
    EXPECT_EQ(rootFile["files"][0]["resolved"], true);
    EXPECT_EQ(rootFile["files"][0]["additions"], 2);
    EXPECT_EQ(rootFile["files"][0]["patch"].get<std::string>().find("commit "), std::string::npos);

    work.commit("folder", "dir/a/f.txt", "1\n2\n3\n4\n5\n6\n7\n8\n");
    work.git({"mv", "dir/a", "dir/b"});
    work.write("dir/b/f.txt", "1\n2\n3\n4\n5\n6\n7\nchanged\nadded\n");
    work.write("other.txt", "o\n");
    work.commitAll("rename");
    Json summary = commitDiff(work.head());
    ASSERT_EQ(summary["files"].size(), 2u);
    EXPECT_EQ(summary["files"][0], (Json{{"commit", work.head()},
                                         {"path", "dir/b/f.txt"},
                                         {"additions", 2},
                                         {"deletions", 1},
                                         {"isBinary", false},
                                         {"patch", ""},
                                         {"resolved", false}}));
    EXPECT_EQ(summary["files"][1]["path"], "other.txt");

    // A file the commit did not touch: one empty, resolved entry.
    Json untouched = commitDiff(work.head(), "tracked.txt");
    EXPECT_EQ(untouched["files"][0], (Json{{"commit", work.head()},
                                           {"path", "tracked.txt"},
                                           {"additions", 0},
                                           {"deletions", 0},
                                           {"isBinary", false},
                                           {"patch", ""},
                                           {"resolved", true}}));

    work.git({"checkout", "-q", "-b", "side", "HEAD~1"});
    work.commit("side", "side.txt", "s\n");
    work.git({"checkout", "-q", "-"});
    work.git({"merge", "-q", "--no-edit", "side"});
    // Against its first parent the merge did not change other.txt: the patch against each parent shows it.
    Json merged = commitDiff(work.head(), "other.txt");
    EXPECT_NE(merged["files"][0]["patch"].get<std::string>().find("+o"), std::string::npos);
}

TEST_F(GitServiceDiffTest, RevisionsThatLookLikeOptionsAreRefused) {
    auto written = h.dir / "written";
    h.service->fetchCommitDiff(id, "--output=" + written.string(), std::nullopt);
    h.service->fetchCommitDiff(id, " -p", std::string("tracked.txt"));
    h.service->reachRefreshBarrier(id, "done");
    ASSERT_TRUE(h.sink->waitForCount(1));
    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"git/refresh/barrier"}));
    EXPECT_FALSE(std::filesystem::exists(written));
}

TEST_F(GitServiceDiffTest, WorkingTreeSectionsWithRenamesConflictsAndQuotedNames) {
    work.write("old name.txt", "content that is long enough to be a rename\n");
    work.write("both.txt", "base\n");
    work.write("clash.txt", "base\n");
    work.commitAll("base");
    work.git({"checkout", "-q", "-b", "side"});
    work.commit("side", "clash.txt", "side\n");
    work.git({"checkout", "-q", "-"});
    work.commit("main", "clash.txt", "main\n");
    EXPECT_NE(work.tryGit({"merge", "-q", "side"}).status, 0);
    work.git({"mv", "old name.txt", "new name.txt"});
    work.write("both.txt", "staged\n");
    work.git({"add", "both.txt"});
    work.write("both.txt", "unstaged\n");
    work.write("日本語\tタブ.txt", "j\n");

    h.service->fetchWorkingTree(id);
    ASSERT_TRUE(h.sink->waitForType("git/working-tree"));
    Json tree = h.sink->payloads("git/working-tree")[0];
    EXPECT_EQ(tree["sections"][0], Json::parse(R"({"id":"staged","entries":[
        {"path":"both.txt","staged":{"status":"modified"},"unstaged":{"status":"modified"},"isUntracked":false,"intentToAdd":false},
        {"path":"new name.txt","oldPath":"old name.txt","staged":{"status":"renamed"},"isUntracked":false,"intentToAdd":false,"renameScore":100}]})"));
    EXPECT_EQ(tree["sections"][1]["entries"].size(), 1u);
    EXPECT_EQ(tree["sections"][2]["entries"][0]["path"], "日本語\tタブ.txt");
    EXPECT_EQ(tree["sections"][3], Json::parse(R"({"id":"conflicted","entries":[
        {"path":"clash.txt","staged":{"status":"conflicted"},"unstaged":{"status":"conflicted"},"isUntracked":false,"intentToAdd":false}]})"));
    EXPECT_EQ(tree["summary"], Json::parse(R"({"total":5,"staged":2,"unstaged":1,"untracked":1})"));

    test::TempDir plain;
    h.sink->clear();
    h.service->fetchWorkingTree(h.projects->add(plain.path()));
    ASSERT_TRUE(h.sink->waitForCount(1));
    EXPECT_EQ(h.sink->events()[0].payload["summary"]["total"], 0);
    EXPECT_EQ(h.sink->events()[0].payload["sections"].size(), 4u);
}

}  // namespace
}  // namespace pelko
