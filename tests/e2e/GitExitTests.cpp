// Quitting the real application while Git works: a fetch held by its upload-pack and a push held by
// its hook are running when SIGTERM comes. The process returns from main at once with status 0 (under
// the asan preset: without a report), and the git processes it started are ended.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <fstream>

#include "e2e/PelkoWindowFixture.hpp"
#include "git/GitTestSupport.hpp"

namespace pelko {
namespace {

using namespace std::chrono_literals;

class GitExitTest : public test::PelkoWindowTest {};

TEST_F(GitExitTest, QuittingDuringASlowFetchAndASlowPushEndsGitAndReturnsCleanly) {
    test::writeFile(dir / "home/.gitconfig", "[user]\n\tname = Ada\n\temail = ada@example.com\n");
    test::GitRepo origin{dir / "origin.git"};
    origin.git({"init", "-q", "--bare"});
    test::GitRepo fetching{dir / "fetching"};
    test::GitRepo(dir.path()).git({"clone", "-q", origin.path().string(), fetching.path().string()});
    fetching.commit("first", "a.txt", "a\n");
    fetching.git({"push", "-q", "origin", "main"});
    test::GitRepo pushing{dir / "pushing"};
    test::GitRepo(dir.path()).git({"clone", "-q", origin.path().string(), pushing.path().string()});
    pushing.commit("mine", "b.txt", "b\n");
    const auto fetchPid = dir / "fetch.pid";
    const auto pushPid = dir / "push.pid";
    test::writeHeldScript(dir / "upload-pack", fetchPid);
    fetching.git({"config", "remote.origin.uploadpack", (dir / "upload-pack").string()});
    test::writeHeldScript(pushing / ".git/hooks/pre-push", pushPid);

    auto fetchProject = project("Fetching");
    fetchProject.rootPath = fetching.path().string();
    auto pushProject = project("Pushing");
    pushProject.rootPath = pushing.path().string();
    config.projects = {fetchProject, pushProject};
    config.activeProjectID = fetchProject.id;
    saveConfig();
    const std::string script = R"(
  let asked = false;
  window.__pelko__ = {
    dispatch: function (event) {
      if (event.type === 'app/config' && !asked) {
        asked = true;
        post({ type: 'git/fetch', payload: { projectId: ')" +
                               fetchProject.id.string() + R"(' } });
        post({ type: 'git/push', payload: { projectId: ')" +
                               pushProject.id.string() + R"(' } });
        post({ type: 'git/status', payload: { projectId: ')" +
                               fetchProject.id.string() + R"(' } });
        log('asked');
      }
    }
  };
  (window.__pelkoPendingEvents || []).forEach(window.__pelko__.dispatch);
)";
    writeTestPage(script.c_str());
    auto pelko = start({withoutLeakReports()});
    ASSERT_TRUE(test::waitFor(
        [&] { return std::filesystem::exists(fetchPid) && std::filesystem::exists(pushPid); }, 120s))
        << output() << test::readFile(logFile());

    pelko->signal(SIGTERM);
    auto status = pelko->waitForExit(120s);
    ASSERT_TRUE(status.has_value()) << "still running after SIGTERM";
    expectReturnedCleanly(*status);
    for (const auto& file : {fetchPid, pushPid}) {
        std::string pid(GitOutputText::trim(test::readFile(file)));
        EXPECT_TRUE(test::waitFor([&] { return test::processEnded(pid); }, 60s))
            << "git's child " << pid << " outlived us";
    }
}

}  // namespace
}  // namespace pelko
