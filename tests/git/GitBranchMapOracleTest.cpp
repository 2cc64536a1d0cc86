// The branch map against the per-ref computation it replaced, on generated repositories of about a hundred
// branches: merged by fast-forward, merge commit and squash, unmerged, with follow-ups, cut from other
// branches, with main merged in, local and remote-tracking copies ahead, behind or apart, a second
// remote, a worktree and a dirty current branch. The payloads must be the same JSON byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "git/GitBranchMapProvider.hpp"
#include "git/GitTestSupport.hpp"
#include "git/support/PerRefBranchMap.hpp"

namespace pelko {
namespace {

using test::GitRepo;

struct Shape {
    std::uint32_t seed = 1;
    int mainSteps = 40;
    int features = 80;
    // origin/HEAD removed and main renamed: no base at all.
    bool withoutBase = false;
};

// A fast-import stream of an origin repository: a main line that merges, fast-forwards and squashes
// feature branches as it grows, features cut from main or from other features, some with main merged
// into them, some given commits after their merge.
class OriginWriter {
  public:
    explicit OriginWriter(const Shape& shape) : shape_(shape), random_(shape.seed) {}

    std::string stream() {
        mainTip_ = commit("refs/heads/main", std::nullopt, {}, "start");
        mainLine_.push_back(mainTip_);
        for (int step = 0; step < shape_.mainSteps; ++step) {
            int kind = pick(10);
            if (kind < 4 || openFeatures_.empty()) {
                newFeature();
                mainTip_ = commit("refs/heads/main", mainTip_, {}, "main " + std::to_string(step));
            } else if (kind < 6) {
                mergeFeature(false);
            } else if (kind < 7) {
                mergeFeature(true);
            } else if (kind < 8) {
                fastForwardFeature();
            } else {
                newFeature();
                workOnFeature();
            }
            mainLine_.push_back(mainTip_);
        }
        while (static_cast<int>(featureCount_) < shape_.features) {
            newFeature();
            if (pick(3) == 0) workOnFeature();
        }
        return text_;
    }

  private:
    struct Feature {
        std::string ref;
        int tip;
    };

    int pick(int below) { return static_cast<int>(random_() % static_cast<std::uint32_t>(below)); }

    std::string path() {
        static const char* special[] = {"f g.txt", "caf\xc3\xa9.txt", "docs/e.md", "k/l.txt"};
        int which = pick(160);
        if (which < 4) return special[which];
        return "dir" + std::to_string(which % 5) + "/p" + std::to_string(which) + ".txt";
    }

    // Subjects as git itself would never clean them: trailing blanks, a second line.
    std::string subject(const std::string& base) {
        switch (pick(6)) {
            case 0:
                return base + "   ";
            case 1:
                return base + "\nsecond line";
            case 2:
                return base + "\n\nbody text";
            default:
                return base;
        }
    }

    int commit(const std::string& ref, std::optional<int> from, const std::vector<int>& merges,
               const std::string& message) {
        int mark = ++marks_;
        text_ += "commit " + ref + "\nmark :" + std::to_string(mark) + "\ncommitter Ada <ada@example.com> " +
                 std::to_string(1700000000 + mark * 60) + " +0000\n";
        std::string body = subject(message);
        text_ += "data " + std::to_string(body.size()) + "\n" + body + "\n";
        if (from) text_ += "from :" + std::to_string(*from) + "\n";
        for (int merge : merges) text_ += "merge :" + std::to_string(merge) + "\n";
        // A file every line starts with, renamed away on some branches (a rename `git diff` detects).
        bool hasKept = from ? hasKeptFile_[*from] : false;
        if (!from) {
            text_ += "M 644 inline kept.txt\ndata 60\n" + std::string(59, 'k') + "\n";
            hasKept = true;
        } else if (hasKept && ref != "refs/heads/main" && pick(5) == 0) {
            text_ += "R kept.txt moved-" + std::to_string(mark) + ".txt\n";
            hasKept = false;
        }
        hasKeptFile_[mark] = hasKept;
        std::string content = "content " + std::to_string(mark) + "\n";
        text_ +=
            "M 644 inline " + path() + "\ndata " + std::to_string(content.size()) + "\n" + content + "\n";
        return mark;
    }

    void newFeature() {
        Feature feature{"refs/heads/f-" + std::to_string(featureCount_++), 0};
        int from;
        if (!openFeatures_.empty() && pick(4) == 0) {
            from = openFeatures_[pick(static_cast<int>(openFeatures_.size()))].tip;  // cut from a feature
        } else {
            from = mainLine_[pick(static_cast<int>(mainLine_.size()))];
        }
        if (pick(7) == 0) {
            // A branch at an existing commit, without work of its own.
            text_ += "reset " + feature.ref + "\nfrom :" + std::to_string(from) + "\n\n";
            feature.tip = from;
            openFeatures_.push_back(feature);
            return;
        }
        feature.tip = commit(feature.ref, from, {}, feature.ref.substr(11) + " work");
        int more = pick(3);
        for (int index = 0; index < more; ++index)
            feature.tip = commit(feature.ref, feature.tip, {}, feature.ref.substr(11) + " more");
        openFeatures_.push_back(feature);
    }

    void workOnFeature() {
        auto& feature = openFeatures_[pick(static_cast<int>(openFeatures_.size()))];
        if (pick(3) == 0) {
            feature.tip =
                commit(feature.ref, feature.tip, {mainTip_}, "merge main into " + feature.ref.substr(11));
        } else {
            feature.tip = commit(feature.ref, feature.tip, {}, "more on " + feature.ref.substr(11));
        }
    }

    Feature takeFeature() {
        std::size_t which = static_cast<std::size_t>(pick(static_cast<int>(openFeatures_.size())));
        Feature feature = openFeatures_[which];
        openFeatures_.erase(openFeatures_.begin() + static_cast<std::ptrdiff_t>(which));
        return feature;
    }

    void mergeFeature(bool squash) {
        Feature feature = takeFeature();
        if (squash) {
            mainTip_ = commit("refs/heads/main", mainTip_, {}, "squashed " + feature.ref.substr(11));
        } else {
            mainTip_ = commit("refs/heads/main", mainTip_, {feature.tip}, "merge " + feature.ref.substr(11));
        }
        if (pick(3) == 0) {
            feature.tip = commit(feature.ref, feature.tip, {}, "follow-up on " + feature.ref.substr(11));
            openFeatures_.push_back(feature);
        }
    }

    void fastForwardFeature() {
        Feature feature{"refs/heads/f-" + std::to_string(featureCount_++), 0};
        feature.tip = commit(feature.ref, mainTip_, {}, feature.ref.substr(11) + " fast");
        mainTip_ = commit("refs/heads/main", feature.tip, {}, "after " + feature.ref.substr(11));
        text_ += "reset refs/heads/main\nfrom :" + std::to_string(mainTip_) + "\n\n";
    }

    Shape shape_;
    std::mt19937 random_;
    std::string text_;
    int marks_ = 0;
    int mainTip_ = 0;
    std::size_t featureCount_ = 0;
    std::vector<int> mainLine_;
    std::vector<Feature> openFeatures_;
    std::map<int, bool> hasKeptFile_;
};

// A clone of a generated origin with local branches tracking, ahead of, behind and apart from their
// remote copies, local-only branches, a second remote, a worktree, and the current branch dirty.
struct GeneratedRepository {
    GitRepo origin;
    std::optional<GitRepo> clone;
    test::TempDir worktrees;

    explicit GeneratedRepository(const Shape& shape) {
        auto originImport = worktrees.path() / "origin-import";
        std::ofstream(originImport) << OriginWriter(shape).stream();
        runShell(origin.path(), "git fast-import --quiet < '" + originImport.string() + "'");
        clone.emplace(GitRepo::cloneOf(origin));
        GitRepo& repo = *clone;
        std::mt19937 random(shape.seed * 7 + 3);
        auto pick = [&](int below) { return static_cast<int>(random() % static_cast<std::uint32_t>(below)); };

        // Local refs and commits go in as one fast-import stream, upstreams straight into the config.
        std::string stream;
        std::string config;
        auto reset = [&](const std::string& ref, const std::string& from) {
            stream += "reset " + ref + "\nfrom " + from + "\n\n";
        };
        // A commit on `from` with its tree, or with `tree` when given.
        auto commit = [&](const std::string& ref, const std::string& from, const std::string& message,
                          const std::string& tree = "") {
            stream += "commit " + ref + "\ncommitter Ada <ada@example.com> 1700000000 +0000\ndata " +
                      std::to_string(message.size() + 1) + "\n" + message + "\n\nfrom " + from + "\n";
            if (!tree.empty()) stream += "M 040000 " + tree + " \"\"\n";
            stream += "\n";
        };
        auto track = [&](const std::string& name) {
            config += "[branch \"" + name + "\"]\n\tremote = origin\n\tmerge = refs/heads/" + name + "\n";
        };

        std::vector<std::string> remoteBranches;
        std::string listing =
            repo.git({"for-each-ref", "--format=%(refname:lstrip=3) %(objectname) %(tree) %(parent)",
                      "refs/remotes/origin"});
        int index = 0;
        for (auto line : GitOutputText::nonEmptyLines(listing)) {
            auto fields = GitOutputText::split(line, " ");
            std::string name(fields[0]);
            if (name == "HEAD" || name == "main") continue;
            remoteBranches.push_back(name);
            std::string sha(fields[1]);
            std::string tree(fields[2]);
            // The first parent; none for a branch at the root commit.
            std::string parent(fields.size() > 3 ? fields[3] : "");
            std::string local = "refs/heads/" + name;
            switch (pick(9)) {
                case 0:
                    reset(local, sha);
                    track(name);
                    break;
                case 1:  // ahead of its upstream
                    commit(local, sha, "local " + name);
                    track(name);
                    break;
                case 2:  // behind its upstream
                    reset(local, parent.empty() ? sha : parent);
                    track(name);
                    break;
                case 3:  // same commit, no upstream
                    reset(local, sha);
                    break;
                case 4:  // apart: a local commit on an older commit
                    if (parent.empty()) {
                        reset(local, sha);
                    } else {
                        commit(local, parent, "apart " + name, tree);
                    }
                    track(name);
                    break;
                case 5:  // also on a second remote
                    reset("refs/remotes/second/" + name, sha);
                    break;
                default:
                    break;
            }
            // A local branch cut from this one, never pushed.
            if (pick(12) == 0)
                commit("refs/heads/local-" + std::to_string(index), sha,
                       "local only " + std::to_string(index));
            ++index;
        }
        reset("refs/remotes/second/only-there", "refs/remotes/origin/main~3");
        reset("refs/heads/old-main", "refs/remotes/origin/main~5");
        commit("refs/heads/main", "refs/heads/main^0", "unpushed on main");
        auto import = worktrees.path() / "local-import";
        std::ofstream(import) << stream;
        std::ofstream(repo / ".git/config", std::ios::app) << config;

        std::string script = "set -e\ngit fast-import --quiet < '" + import.string() + "'\n";
        script += "git remote add second file:///nonexistent\n";
        script += "git reset -q --hard main\n";
        script += "git worktree add -q " + (worktrees.path() / "wt").string() + " old-main\n";
        std::string current = remoteBranches.at(remoteBranches.size() / 2);
        script += "git checkout -q " + current + " 2>/dev/null || git checkout -q -b " + current +
                  " origin/" + current + "\n";
        script += "echo dirty > dirty.txt\n";
        if (shape.withoutBase) {
            script += "git symbolic-ref -d refs/remotes/origin/HEAD\n";
            script += "git branch -q -m main trunk\ngit update-ref -d refs/remotes/origin/main\n";
        }
        runShell(repo.path(), script);
    }

    static void runShell(const std::filesystem::path& folder, const std::string& script) {
        auto environment = test::isolatedGitEnvironment();
        environment["GIT_AUTHOR_DATE"] = "1700000000 +0000";
        environment["GIT_COMMITTER_DATE"] = "1700000000 +0000";
        auto result = ProcessGitProcessRunner().run({"sh", "-c", script}, folder, environment);
        ASSERT_EQ(result.status, 0) << result.stderr;
    }
};

std::string withoutTime(const GitBranchMapPayload& payload) {
    Json json = payload.toJson();
    json.erase("generatedAt");
    return json.dump();
}

// The first node that differs, for a readable failure.
std::string firstDifference(const GitBranchMapPayload& actual, const GitBranchMapPayload& expected) {
    for (std::size_t index = 0; index < std::min(actual.nodes.size(), expected.nodes.size()); ++index) {
        Json left = actual.nodes[index].toJson();
        Json right = expected.nodes[index].toJson();
        if (left == right) continue;
        std::string text = "node " + std::to_string(index) + " " + left["name"].dump();
        for (const auto& [key, value] : right.items()) {
            if (!left.contains(key) || left[key] != value)
                text += "\n  " + key + ": got " + (left.contains(key) ? left[key].dump() : "nothing") +
                        ", want " + value.dump() + " (sizes " + std::to_string(left[key].size()) + ", " +
                        std::to_string(value.size()) + ")";
        }
        for (const auto& [key, value] : left.items()) {
            if (!right.contains(key)) text += "\n  " + key + ": got " + value.dump() + ", want nothing";
        }
        return text;
    }
    return "counts " + std::to_string(actual.nodes.size()) + " vs " + std::to_string(expected.nodes.size());
}

// What the nodes show, so that a smaller shape cannot quietly lose a case.
std::set<std::string> kindsOf(const GitBranchMapPayload& payload) {
    std::set<std::string> kinds;
    for (const auto& node : payload.nodes) {
        kinds.insert(node.mergeState + (node.integration ? " by " + *node.integration : ""));
        kinds.insert(node.location);
        kinds.insert(node.pushState);
        kinds.insert(node.parentConfidence + " parent");
        if (node.inUseByOtherWorktree) kinds.insert("other worktree");
        if (node.hasUncommittedChanges) kinds.insert("uncommitted");
        if (!node.overlaps.empty()) kinds.insert("overlaps");
    }
    return kinds;
}

class GitBranchMapOracleTest : public ::testing::TestWithParam<Shape> {};

TEST_P(GitBranchMapOracleTest, SamePayloadAsThePerRefComputation) {
    GeneratedRepository generated(GetParam());
    auto project = test::projectAt(generated.clone->path());
    auto runner = std::make_shared<ProcessGitProcessRunner>();
    auto environment = test::isolatedGitEnvironment();
    GitBranchMapProvider provider(runner, environment);

    // The per-ref computation does not depend on the limit: computed once, bounded for each.
    auto whole = test::perref::loadBranchMap(*runner, environment, project, 0);
    ASSERT_GT(whole.totalCount, 80);
    std::set<std::string> wanted{"local",    "localAndRemote", "remoteOnly",     "pushed",
                                 "unpushed", "noUpstream",     "other worktree", "uncommitted"};
    if (GetParam().withoutBase) {
        wanted.insert("undetermined");
    } else {
        wanted.insert({"base", "merged by fastForward", "merged by mergeCommit", "mergedWithFollowUp",
                       "unmerged", "confirmed parent", "estimated parent", "overlaps"});
    }
    auto kinds = kindsOf(whole);
    for (const auto& kind : wanted) EXPECT_TRUE(kinds.contains(kind)) << "no node shows " << kind;
    for (std::int64_t limit : {0, 40}) {
        SCOPED_TRACE(limit);
        auto expected = test::perref::bounded(whole, limit);
        auto actual = provider.loadBranchMap(project, limit);
        EXPECT_TRUE(withoutTime(actual) == withoutTime(expected)) << firstDifference(actual, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Generated, GitBranchMapOracleTest,
                         ::testing::Values(Shape{.seed = 1},
                                           // Its merges leave one branch with two merge bases.
                                           Shape{.seed = 12, .mainSteps = 60, .features = 100},
                                           Shape{.seed = 3, .withoutBase = true}),
                         [](const ::testing::TestParamInfo<Shape>& info) {
                             return "Seed" + std::to_string(info.param.seed) +
                                    (info.param.withoutBase ? "WithoutBase" : "");
                         });

}  // namespace
}  // namespace pelko
