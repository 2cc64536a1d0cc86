// Remote resolution from the repository's own configuration file, also where `.git` is a file.
#include <gtest/gtest.h>

#include "git/GitTestSupport.hpp"

namespace pelko {
namespace {

using test::GitRepo;

class GitRemoteResolutionTest : public ::testing::Test {
  protected:
    test::GitServiceHarness h;

    ProjectMetadata project(const std::filesystem::path& root) {
        ProjectMetadata metadata;
        metadata.id = Uuid::random();
        metadata.rootPath = root.string();
        return metadata;
    }
};

TEST_F(GitRemoteResolutionTest, OriginUpstreamOrNothing) {
    GitRepo repo(h.dir / "repo");
    repo.git({"init", "-q"});
    EXPECT_FALSE(h.service->remoteURL(project(repo.path())));
    repo.git({"remote", "add", "upstream", "https://example.com/up.git"});
    // Only "upstream", with no branch upstream or push default: git is asked for origin, which fails.
    EXPECT_FALSE(h.service->remoteURL(project(repo.path())));
    repo.git({"config", "remote.pushDefault", "upstream"});
    EXPECT_EQ(h.service->remoteURL(project(repo.path())), "https://example.com/up.git");
    repo.git({"remote", "add", "origin", "https://example.com/origin.git"});
    repo.git({"config", "submodule.lib.url", "https://example.com/lib.git"});
    EXPECT_EQ(h.service->remoteURL(project(repo.path())), "https://example.com/origin.git");
}

TEST_F(GitRemoteResolutionTest, LinkedWorktreesAndSubmoduleCheckoutsFindTheirRemotes) {
    GitRepo main(h.dir / "main");
    main.git({"init", "-q"});
    main.write("a.txt", "a\n");
    main.commitAll("first");
    main.git({"remote", "add", "origin", "https://example.com/main.git"});
    main.git({"worktree", "add", "-q", (h.dir / "linked").string()});
    EXPECT_TRUE(std::filesystem::is_regular_file(h.dir / "linked" / ".git"));
    EXPECT_EQ(h.service->remoteURL(project(h.dir / "linked")), "https://example.com/main.git");

    GitRepo super(h.dir / "super");
    super.git({"init", "-q"});
    super.git({"-c", "protocol.file.allow=always", "submodule", "add", "-q", main.path().string(), "lib"});
    EXPECT_TRUE(std::filesystem::is_regular_file(super / "lib" / ".git"));
    EXPECT_EQ(h.service->remoteURL(project(super / "lib")), main.path().string());
}

}  // namespace
}  // namespace pelko
