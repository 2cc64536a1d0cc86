// GitLocalHistoryProvider against real repositories, and its reading of git log records.
#include <gtest/gtest.h>

#include "git/GitCommitHistoryPager.hpp"
#include "git/GitLocalHistoryProvider.hpp"
#include "git/GitTestSupport.hpp"

namespace pelko {
namespace {

using test::GitRepo;
using test::projectAt;

std::vector<std::string> oids(const GitLocalHistoryPage& page) {
    std::vector<std::string> list;
    for (const auto& edge : page.edges) list.push_back(edge.oid);
    return list;
}

class GitLocalHistoryProviderTest : public ::testing::Test {
  protected:
    GitLocalHistoryProvider provider{std::make_shared<ProcessGitProcessRunner>()};
};

TEST_F(GitLocalHistoryProviderTest, WithoutUpstreamTheUnpushedPageIsTheWholeHistory) {
    GitRepo repo;
    std::string first = repo.commit("first");
    std::string second = repo.commit("second");
    std::string third = repo.commit("third");

    auto page = provider.loadUnpushedHistory(projectAt(repo.path()), 0, 10);
    EXPECT_EQ(page.branch, "main");
    EXPECT_FALSE(page.upstream);
    EXPECT_EQ(page.totalCount, 3);
    EXPECT_EQ(oids(page), (std::vector<std::string>{third, second, first}));
    EXPECT_EQ(page.edges.front().messageHeadline, "third");

    auto secondPage = provider.loadUnpushedHistory(projectAt(repo.path()), 1, 1);
    EXPECT_EQ(oids(secondPage), std::vector<std::string>{second});
    EXPECT_EQ(secondPage.totalCount, 3);
}

TEST_F(GitLocalHistoryProviderTest, UpstreamLimitsTheUnpushedPageEvenWhenABranchIsNamedLikeIt) {
    GitRepo origin;
    origin.commit("shared one");
    std::string shared = origin.commit("shared two");
    auto clone = GitRepo::cloneOf(origin);
    std::string mine = clone.commit("mine one");
    std::string newest = clone.commit("mine two");
    // A local branch named like the upstream's short name must not stand in for it.
    clone.git({"branch", "origin/main", "HEAD"});

    auto project = projectAt(clone.path());
    auto unpushed = provider.loadUnpushedHistory(project, 0, 10);
    EXPECT_EQ(unpushed.upstream, "origin/main");
    EXPECT_EQ(unpushed.totalCount, 2);
    EXPECT_EQ(oids(unpushed), (std::vector<std::string>{newest, mine}));

    auto all = provider.loadHistory(project, 0, 10);
    EXPECT_EQ(all.totalCount, 4);
    EXPECT_EQ(all.edges.at(2).oid, shared);
}

TEST_F(GitLocalHistoryProviderTest, EmptyAndUnusualRepositoriesGiveEmptyPages) {
    GitRepo empty;
    test::TempDir plainFolder;
    for (const auto& path : {empty.path(), plainFolder.path(), plainFolder.path() / "missing"}) {
        auto page = provider.loadUnpushedHistory(projectAt(path), 0, 10);
        EXPECT_TRUE(page.edges.empty()) << path;
        EXPECT_EQ(page.totalCount, 0) << path;
    }

    std::string old = empty.commit("old");
    empty.commit("new");
    empty.git({"checkout", "-q", old});
    auto page = provider.loadUnpushedHistory(projectAt(empty.path()), 0, 10);
    EXPECT_FALSE(page.branch);
    EXPECT_EQ(oids(page), std::vector<std::string>{old});
    auto beyond = provider.loadHistory(projectAt(empty.path()), 5, 10);
    EXPECT_TRUE(beyond.edges.empty());
    EXPECT_EQ(beyond.totalCount, 1);
}

TEST_F(GitLocalHistoryProviderTest, FilesComeWithCountsAndUnquotedPaths) {
    GitRepo repo;
    repo.write("image.bin", std::string("\0\1\2\3binary", 10));
    repo.write("tab\tname.txt", "one\ntwo\n");
    repo.write("日本語.txt", "テキスト\n");
    repo.commitAll("subject with \x1f unit separator");

    auto page = provider.loadHistory(projectAt(repo.path()), 0, 10);
    ASSERT_EQ(page.edges.size(), 1u);
    const auto& edge = page.edges.front();
    EXPECT_EQ(edge.messageHeadline, "subject with \x1f unit separator");
    std::map<std::string, std::pair<std::int64_t, std::int64_t>> files;
    for (const auto& file : edge.files) files[file.path] = {file.additions, file.deletions};
    EXPECT_EQ(files, (std::map<std::string, std::pair<std::int64_t, std::int64_t>>{
                         {"image.bin", {0, 0}}, {"tab\tname.txt", {2, 0}}, {"日本語.txt", {1, 0}}}));
}

// A history whose commit "big" touches 100 files: its record alone is over a 1000-byte limit.
class GitLocalHistoryOverLimitTest : public ::testing::Test {
  protected:
    static constexpr std::size_t limit = 1000;
    GitLocalHistoryProvider provider{std::make_shared<ProcessGitProcessRunner>(),
                                     test::isolatedGitEnvironment(), limit};

    static std::string commitBig(const GitRepo& repo, const std::string& name) {
        for (int index = 0; index < 100; ++index)
            repo.write(name + "-" + std::to_string(index) + ".txt", "x\n");
        repo.commitAll(name);
        return repo.head();
    }
};

TEST_F(GitLocalHistoryOverLimitTest, PagesKeepWholeCommitsAndAFirstCommitKeepsWhatFits) {
    GitRepo repo;
    std::string one = repo.commit("one");
    std::string big = commitBig(repo, "big");
    std::string two = repo.commit("two");
    std::string three = repo.commit("three");
    auto project = projectAt(repo.path());

    auto first = provider.loadHistory(project, 0, 10);
    EXPECT_EQ(oids(first), (std::vector<std::string>{three, two}));
    EXPECT_EQ(first.listedCount, 2);
    EXPECT_EQ(first.edges.at(1).files.size(), 1u);

    auto fromBig = provider.loadHistory(project, 2, 10);
    EXPECT_EQ(oids(fromBig), std::vector<std::string>{big});
    EXPECT_EQ(fromBig.listedCount, 1);
    ASSERT_EQ(fromBig.edges.size(), 1u);
    EXPECT_GT(fromBig.edges[0].files.size(), 0u);
    EXPECT_LT(fromBig.edges[0].files.size(), 100u);

    auto last = provider.loadHistory(project, 3, 10);
    EXPECT_EQ(oids(last), std::vector<std::string>{one});
    EXPECT_EQ(last.listedCount, 1);
}

TEST_F(GitLocalHistoryOverLimitTest, PagingGivesEveryCommitOnce) {
    GitRepo origin;
    origin.commit("one");
    commitBig(origin, "pushed-big");
    origin.commit("two");
    auto clone = GitRepo::cloneOf(origin);
    commitBig(clone, "unpushed-big");
    clone.commit("three");
    commitBig(clone, "unpushed-bigger");
    auto project = projectAt(clone.path());

    GitCommitHistoryPager pager{std::shared_ptr<GitLocalHistoryProvider>(&provider, [](auto*) {}), nullptr};
    auto noGitHub = [] { return std::optional<GitCommitHistoryPager::RemoteAccess>(); };
    for (std::int64_t pageSize : {1, 2, 3, 10}) {
        SCOPED_TRACE(pageSize);
        std::vector<std::string> delivered;
        std::optional<std::string> cursor;
        for (int guard = 0; guard < 50; ++guard) {
            auto payload = pager.loadPage(project, {cursor, pageSize, std::nullopt, true}, noGitHub).payload;
            for (const auto& edge : payload.edges) delivered.push_back(edge.oid);
            if (!payload.pageInfo.hasNextPage) break;
            cursor = payload.cursorPayload;
        }
        EXPECT_EQ(delivered, clone.revList());
    }
}

TEST(GitLocalHistoryRecordsTest, UnreadableRecordsAreSkippedButCounted) {
    const std::string output =
        "\x1e"
        "aaa\x1f"
        "Ada\x1f"
        "2024-01-01T00:00:00Z\x1f"
        "one \x1e inside\n\n3\t1\tsrc/a.c\n-\t-\tlogo.png\n"
        "\x1e"
        "bbb\x1f"
        "only two fields\n"
        "\x1e"
        "ccc\x1f"
        "Bo\x1f"
        "2024-01-02T00:00:00Z\x1f"
        "three\x1f"
        "parts\n";
    auto parsed = GitLocalHistoryProvider::parseLogRecords(output);
    EXPECT_EQ(parsed.listedCount, 3);
    ASSERT_EQ(parsed.edges.size(), 2u);
    EXPECT_EQ(parsed.edges[0].messageHeadline, "one \x1e inside");
    EXPECT_EQ(parsed.edges[0].files,
              (std::vector<GitCommitFileSummaryPayload>{{"src/a.c", 3, 1}, {"logo.png", 0, 0}}));
    EXPECT_EQ(parsed.edges[1].oid, "ccc");
    EXPECT_EQ(parsed.edges[1].messageHeadline, "three\x1fparts");
}

TEST(GitLocalHistoryRecordsTest, CutOutputKeepsWholeRecordsOrTheFirstOne) {
    const std::string first =
        "\x1e"
        "aaa\x1f"
        "Ada\x1f"
        "2024-01-01T00:00:00Z\x1f"
        "one\n\n3\t1\ta.c\n1\t0\tb.c\n";
    const std::string second =
        "\x1e"
        "bbb\x1f"
        "Bo\x1f"
        "2024-01-02T00:00:00Z\x1f"
        "two\n\n1\t1\tc.c\n";

    // Cut in a third record: the two before it are whole. Cut in the second: it waits for the next page.
    const std::string third =
        "\n\x1e"
        "ccc\x1f"
        "Cy";
    auto parsed = GitLocalHistoryProvider::parseLogRecords(first + second + third, true);
    EXPECT_EQ(parsed.listedCount, 2);
    ASSERT_EQ(parsed.edges.size(), 2u);
    EXPECT_EQ(parsed.edges[1].files, (std::vector<GitCommitFileSummaryPayload>{{"c.c", 1, 1}}));
    parsed = GitLocalHistoryProvider::parseLogRecords(first + second.substr(0, second.size() - 3), true);
    EXPECT_EQ(parsed.listedCount, 1);
    ASSERT_EQ(parsed.edges.size(), 1u);
    EXPECT_EQ(parsed.edges[0].files.size(), 2u);

    // A first record cut keeps its whole lines and counts; cut in its first line it still counts.
    parsed = GitLocalHistoryProvider::parseLogRecords(first.substr(0, first.size() - 3), true);
    EXPECT_EQ(parsed.listedCount, 1);
    ASSERT_EQ(parsed.edges.size(), 1u);
    EXPECT_EQ(parsed.edges[0].files, (std::vector<GitCommitFileSummaryPayload>{{"a.c", 3, 1}}));
    for (std::size_t size : {1, 10}) {
        parsed = GitLocalHistoryProvider::parseLogRecords(first.substr(0, size), true);
        EXPECT_EQ(parsed.listedCount, 1) << size;
        EXPECT_TRUE(parsed.edges.empty()) << size;
    }
}

}  // namespace
}  // namespace pelko
