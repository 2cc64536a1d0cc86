// Working-tree diffs, commit diffs and the working tree against real repositories, with the paths
// and revisions that must never reach git.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

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
        auto answers = h.sink->payloads("git/diff");
        return answers.empty() ? Json() : answers[0]["files"];
    }
    Json commitDiff(const std::string& commit, std::optional<std::string> path = std::nullopt) {
        h.sink->clear();
        h.service->fetchCommitDiff(id, commit, path);
        EXPECT_TRUE(h.sink->waitForType("git/commit/diff"));
        auto answers = h.sink->payloads("git/commit/diff");
        return answers.empty() ? Json() : answers[0];
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

TEST_F(GitServiceDiffTest, RevisionsThatLookLikeOptionsFailAsUnknownRevisionsDo) {
    auto written = h.dir / "written";
    Json emptyEntry = {{"commit", ""},      {"path", "tracked.txt"}, {"additions", 0},  {"deletions", 0},
                       {"isBinary", false}, {"patch", ""},           {"resolved", true}};
    for (const std::string& revision :
         std::vector<std::string>{"--output=" + written.string(), " -p", "no-such-revision"}) {
        for (const auto& path : {std::optional<std::string>(), std::optional<std::string>("tracked.txt")}) {
            SCOPED_TRACE(revision + (path ? " with a path" : ""));
            Json answer = commitDiff(revision, path);
            std::string commit(GitOutputText::trim(revision));
            EXPECT_EQ(answer["commit"], commit);
            emptyEntry["commit"] = commit;
            EXPECT_EQ(answer["files"], path ? Json::array({emptyEntry}) : Json::array());
            auto results = h.sink->payloads("git/result");
            ASSERT_FALSE(results.empty());
            EXPECT_EQ(results[0]["success"], false);
            EXPECT_NE(results[0]["message"].get<std::string>().find("'" + commit + "'"), std::string::npos);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(written));
}

TEST_F(GitServiceDiffTest, CommitSummaryPathsAreUnquoted) {
    work.write("日本語.txt", "j\n");
    work.write("tab\there.txt", "t\n");
    work.write("quote\"d.txt", "q\n");
    work.commitAll("names");
    Json summary = commitDiff(work.head());
    std::vector<std::string> paths;
    for (const auto& file : summary["files"]) paths.push_back(file["path"]);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{"quote\"d.txt", "tab\there.txt", "日本語.txt"}));
    // The page asks for a file by the path the summary gave it.
    for (const auto& path : paths) {
        SCOPED_TRACE(path);
        Json file = commitDiff(work.head(), path)["files"][0];
        EXPECT_EQ(file["additions"], 1);
        EXPECT_NE(file["patch"].get<std::string>().find("new file mode"), std::string::npos);
    }
}

// A file's patch over the limit per file, or over what is left of the answer's, comes as git's notice
// for a binary file; what is held and sent stays bounded.
TEST_F(GitServiceDiffTest, OverSizePatchesAreAnsweredAsBinary) {
    auto lines = [](std::size_t bytes, char fill) {
        std::string line(63, fill);
        line.push_back('\n');
        std::string text;
        text.reserve(bytes);
        while (text.size() < bytes) text += line;
        return text;
    };
    const std::size_t over = GitService::diffFileLimit + GitService::diffFileLimit / 4;
    work.write("big.txt", "small\n");
    work.commitAll("small");
    work.write("big.txt", lines(over, 'm'));
    work.write("new.txt", lines(over, 'n'));
    // Small on disk, but six times larger once its control characters are escaped for the page.
    work.write("control.txt", lines(GitService::diffFileLimit / 4, '\x01'));
    work.write("huge.txt", lines(over, 'h'));
    work.git({"add", "huge.txt"});
    work.git({"commit", "-q", "-m", "huge", "--", "huge.txt"});
    struct Case {
        const char* name;
        std::function<Json()> answer;
        std::string notice;
    };
    const Case cases[] = {
        {"tracked",
         [&] {
             return diff({{"big.txt", GitDiffStage::unstaged}})[0];
         },
         "diff --git a/big.txt b/big.txt\nindex "},
        {"untracked",
         [&] {
             return diff({{"new.txt", GitDiffStage::unstaged}})[0];
         },
         "diff --git a/new.txt b/new.txt\nnew file mode 100644\nBinary files /dev/null and b/new.txt "
         "differ\n"},
        {"escaped",
         [&] {
             return diff({{"control.txt", GitDiffStage::unstaged}})[0];
         },
         "diff --git a/control.txt b/control.txt\nnew file mode 100644\nBinary files /dev/null and "
         "b/control.txt differ\n"},
        {"commit", [&] { return commitDiff(work.head(), "huge.txt")["files"][0]; },
         "diff --git a/huge.txt b/huge.txt\nnew file mode 100644\nindex "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Json file = c.answer();
        EXPECT_EQ(file["isBinary"], true);
        EXPECT_EQ(file["additions"], 0);
        EXPECT_EQ(file["deletions"], 0);
        std::string patch = file["patch"];
        EXPECT_TRUE(patch.starts_with(c.notice)) << patch;
        EXPECT_TRUE(patch.ends_with(" differ\n")) << patch;
        EXPECT_LT(patch.size(), 400u);
    }

    // Files that fit one by one, until the answer has no room left for the next.
    const std::size_t most = GitService::diffFileLimit - GitService::diffFileLimit / 8;
    const std::size_t fitting = GitService::diffAnswerLimit / most;
    std::vector<GitDiffTarget> targets;
    for (std::size_t i = 0; i <= fitting; ++i) {
        std::string name = "part" + std::to_string(i) + ".txt";
        work.write(name, lines(most, static_cast<char>('a' + i)));
        targets.push_back({name, GitDiffStage::unstaged});
    }
    Json files = diff(targets);
    ASSERT_EQ(files.size(), fitting + 1);
    std::size_t total = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(files[i]["isBinary"], i == fitting);
        total += files[i]["patch"].get<std::string>().size();
    }
    EXPECT_LE(total, GitService::diffAnswerLimit);
}

TEST_F(GitServiceDiffTest, IdenticalPendingRequestsAreAnsweredOnce) {
    work.write("tracked.txt", "one\nchanged\n");
    std::string head = work.head();
    h.sink->clear();
    for (int i = 0; i < 50; ++i) {
        h.service->fetchDiff(id, {{"tracked.txt", GitDiffStage::unstaged}});
        h.service->fetchCommitDiff(id, head, std::string("tracked.txt"));
    }
    // Different requests keep answers of their own.
    h.service->fetchDiff(id, {{"tracked.txt", GitDiffStage::head}});
    h.service->fetchCommitDiff(id, head, std::nullopt);
    h.service->reachRefreshBarrier(id, "done");
    ASSERT_TRUE(h.sink->waitForType("git/refresh/barrier"));
    std::map<std::string, int> answers;
    for (const auto& event : h.sink->events()) {
        if (event.type == "git/diff")
            answers["diff " + event.payload["files"][0]["stage"].get<std::string>()]++;
        if (event.type == "git/commit/diff")
            answers[event.payload["files"][0]["resolved"].get<bool>() ? "one file" : "summary"]++;
    }
    // The first request may have started before the next came; the rest wait together.
    EXPECT_GE(answers["diff unstaged"], 1);
    EXPECT_LE(answers["diff unstaged"], 2);
    EXPECT_GE(answers["one file"], 1);
    EXPECT_LE(answers["one file"], 2);
    EXPECT_EQ(answers["diff head"], 1);
    EXPECT_EQ(answers["summary"], 1);
    EXPECT_EQ(h.sink->types().back(), "git/refresh/barrier");

    // Work queued in between (a commit would change the answer) keeps a later request from joining an
    // earlier one: it is answered after that work.
    h.sink->clear();
    for (int i = 0; i < 100; ++i) {
        if (i == 50) h.service->fetchWorkingTree(id);
        h.service->fetchDiff(id, {{"tracked.txt", GitDiffStage::unstaged}});
    }
    h.settle();
    auto types = h.sink->types();
    auto between = std::find(types.begin(), types.end(), "git/working-tree");
    ASSERT_NE(between, types.end());
    EXPECT_NE(std::find(between, types.end(), "git/diff"), types.end());
    EXPECT_LE(std::count(types.begin(), types.end(), "git/diff"), 3);
}

// Page paths reach git as literal names, while git run by the user's hooks keeps its patterns.
TEST_F(GitServiceDiffTest, PagePathsAreLiteralAndHooksKeepTheirPatterns) {
    work.write("*.txt", "star\n");
    work.commitAll("star");
    work.write("*.txt", "STAR\n");
    work.write("tracked.txt", "changed\n");
    Json files = diff({{"*.txt", GitDiffStage::unstaged}});
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0]["additions"], 1);
    EXPECT_EQ(files[0]["patch"].get<std::string>().find("tracked.txt"), std::string::npos);

    auto hook = work / ".git" / "hooks" / "pre-commit";
    test::writeFile(hook, "#!/bin/sh\ngit diff --cached --name-only -- '*.txt' > .git/hook-saw\n");
    ASSERT_EQ(chmod(hook.c_str(), 0755), 0);
    work.write("notes.txt", "n\n");
    work.git({"add", "notes.txt"});
    h.sink->clear();
    h.service->commit(id, "with hook");
    ASSERT_TRUE(h.sink->waitForType("git/result"));
    EXPECT_EQ(h.sink->payloads("git/result")[0]["success"], true);
    // Everything was added before the commit: the pattern matches each staged text file.
    EXPECT_EQ(test::readFile(work / ".git" / "hook-saw"), "*.txt\nnotes.txt\ntracked.txt\n");
}

// An untracked file's patch is read through the project's descriptor, yet reads exactly as git's own.
TEST_F(GitServiceDiffTest, UntrackedPatchesMatchGitsOwn) {
    struct Case {
        std::string path;
        std::string content;
        bool executable = false;
    };
    const Case cases[] = {
        {"lines.txt", "a\nb\nc\n"},   {"no end.txt", "a\nb"},
        {"日本語\t\"q\".txt", "j\n"}, {"empty", ""},
        {"run.sh", "echo\n", true},   {"data.bin", std::string("\x89PNG\0\1", 6)},
        {"latin.txt", "caf\xe9\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        work.write(c.path, c.content);
        if (c.executable) {
            ASSERT_EQ(chmod((work / c.path).c_str(), 0755), 0);
        }
        auto expected = work.tryGit({"diff", "--no-index", "/dev/null", "--", c.path});
        ASSERT_EQ(expected.status, 1) << expected.stderr;
        Json file = diff({{c.path, GitDiffStage::unstaged}})[0];
        EXPECT_EQ(file["patch"], expected.stdout);
        EXPECT_EQ(file["isBinary"], c.path == "data.bin");
        auto lines = std::count(c.content.begin(), c.content.end(), '\n');
        if (!c.content.empty() && !c.content.ends_with('\n')) ++lines;
        EXPECT_EQ(file["additions"], c.path == "data.bin" ? 0 : lines);
    }
    std::filesystem::create_symlink("lines.txt", work / "link");
    EXPECT_EQ(diff({{"link", GitDiffStage::unstaged}})[0]["patch"],
              work.tryGit({"diff", "--no-index", "/dev/null", "--", "link"}).stdout);
    // A FIFO is never opened.
    ASSERT_EQ(mkfifo((work / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(diff({{"pipe", GitDiffStage::unstaged}}), Json::array());
}

TEST_F(GitServiceDiffTest, UntrackedFileBehindASwappedFolderIsNeverReadOutside) {
    auto outside = h.dir / "outside";
    test::writeFile(outside / "secret.txt", "OUTSIDE\n");
    work.write("d/secret.txt", "inside\n");
    std::atomic<bool> stop = false;
    std::atomic<int> swaps = 0;
    // Swaps the folder for a link to the outside one and back, as fast as it can.
    std::thread swapper([&] {
        auto folder = work / "d";
        auto aside = work / "d.aside";
        while (!stop) {
            if (::rename(folder.c_str(), aside.c_str()) != 0) break;
            if (::symlink(outside.c_str(), folder.c_str()) != 0) break;
            ::unlink(folder.c_str());
            if (::rename(aside.c_str(), folder.c_str()) != 0) break;
            ++swaps;
        }
    });
    int inside = 0;
    // At least 300 answers, and more until one has read the file in its place (on a loaded machine the
    // swapper can hold the link for many answers in a row).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (int i = 0; i < 300 || (inside == 0 && std::chrono::steady_clock::now() < deadline); ++i) {
        Json files = diff({{"d/secret.txt", GitDiffStage::unstaged}});
        for (const auto& file : files) {
            std::string patch = file["patch"];
            EXPECT_EQ(patch.find("OUTSIDE"), std::string::npos) << "answer " << i;
            if (patch.find("+inside") != std::string::npos) {
                ++inside;
            }
        }
    }
    stop = true;
    swapper.join();
    EXPECT_GT(swaps, 0);
    EXPECT_GT(inside, 0);
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
