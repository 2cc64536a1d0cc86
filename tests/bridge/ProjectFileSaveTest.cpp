#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "bridge/ProjectFileTestSupport.hpp"
#include "platform/UniqueFd.hpp"

namespace fs = std::filesystem;

namespace pelko::test {
namespace {

constexpr uid_t kNobody = 65534;

// What a child without the rights to pass permission bits said, or why it could not run.
struct UnprivilegedRun {
    std::optional<std::string> output;
    std::string skipReason;
};

// Runs `body` in a forked child that works in `folder` (handed to it) without root's rights: as nobody
// when the test runs as root. `body`'s text comes back through a pipe; the child ends within a minute.
UnprivilegedRun runWithoutRootRights(const fs::path& folder, const std::function<std::string()>& body) {
    const bool root = geteuid() == 0;
    if (root && chown(folder.c_str(), kNobody, kNobody) != 0) return {std::nullopt, "cannot chown to nobody"};
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {std::nullopt, "no pipe"};
    UniqueFd reader(fds[0]);
    UniqueFd writer(fds[1]);
    const pid_t child = fork();
    if (child < 0) return {std::nullopt, "no fork"};
    if (child == 0) {
        auto say = [&](const std::string& text) {
            std::string_view rest = text;
            while (!rest.empty()) {
                const ssize_t count = write(writer.get(), rest.data(), rest.size());
                if (count <= 0) break;
                rest.remove_prefix(static_cast<std::size_t>(count));
            }
            _exit(0);
        };
        alarm(60);
        // Entered before the rights go: the folders above it are root's and may be closed to nobody.
        if (chdir(folder.c_str()) != 0) say("skip:cannot enter the folder");
        if (root && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
            say("skip:cannot drop root's rights");
        umask(022);
        // A capability kept past the drop would let this user write anything.
        UniqueFd(open("probe", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0444));
        const UniqueFd probe(open("probe", O_WRONLY | O_CLOEXEC));
        const bool bound = !probe.valid() && errno == EACCES;
        unlink("probe");
        if (!bound) say("skip:this user may write read-only files");
        // Nothing may escape into the test runner this copy of the process carries.
        try {
            say(body());
        } catch (...) {
            _exit(1);
        }
    }
    writer.reset();
    // The child's alarm bounds this read: the pipe ends when the child does.
    std::string output;
    char buffer[4096];
    for (ssize_t count; (count = read(reader.get(), buffer, sizeof buffer)) != 0;) {
        if (count < 0 && errno != EINTR) break;
        if (count > 0) output.append(buffer, static_cast<std::size_t>(count));
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    if (output.starts_with("skip:")) return {std::nullopt, output.substr(5)};
    return {output, {}};
}

class ProjectFileSaveTest : public ::testing::Test {
  protected:
    ProjectFolder project;
    ProjectFileOperations operations;

    BridgeEvent save(const std::string& path, const std::string& content) {
        return operations.saveFile(projectUuid(), project.root, path, content);
    }
    static std::size_t entriesIn(const fs::path& folder) {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }
};

TEST_F(ProjectFileSaveTest, WritesUtf8AndAnswersWithThePathAsSent) {
    fs::create_directories(project.root / "src");
    const auto event = save("/src/new.txt", "日本語\r\n");
    EXPECT_EQ(event.type, "project/file/saved");
    EXPECT_EQ(json::encode(event.payload),
              std::string(R"({"projectId":")") + kProjectIdText + R"(","path":"\/src\/new.txt"})");
    EXPECT_EQ(readFile(project.root / "src/new.txt"), "日本語\r\n");
    EXPECT_EQ(test::fileMode(project.root / "src/new.txt"), 0644u);

    EXPECT_EQ(save("empty.txt", "").type, "project/file/saved");
    EXPECT_EQ(readFile(project.root / "empty.txt"), "");
}

TEST_F(ProjectFileSaveTest, KeepsTheModeOfAnExistingFile) {
    const fs::path script = project.root / "run.sh";
    writeFile(script, "#!/bin/sh\n");
    fs::permissions(script, static_cast<fs::perms>(0755), fs::perm_options::replace);
    EXPECT_EQ(save("run.sh", "#!/bin/sh\necho hi\n").type, "project/file/saved");
    EXPECT_EQ(readFile(script), "#!/bin/sh\necho hi\n");
    EXPECT_EQ(test::fileMode(script), 0755u);
}

TEST_F(ProjectFileSaveTest, RejectedPathsWriteNothing) {
    fs::create_directories(project.root / "a");
    writeFile(project.root / "a/keep.txt", "keep");
    for (const std::string& path : {std::string(), std::string("/"), std::string(".."),
                                    std::string("../x.txt"), std::string("a/../../x.txt"),
                                    std::string("a/../../outside/x.txt"), std::string("a/keep.txt\0x", 12)}) {
        const auto event = save(path, "data");
        EXPECT_EQ(event.type, "project/file/error") << path;
        EXPECT_EQ(decoded(event),
                  Json({{"projectId", kProjectIdText}, {"path", path}, {"message", "保存パスが不正です"}}))
            << path;
    }
    EXPECT_FALSE(fs::exists(project.temp / "x.txt"));
    EXPECT_EQ(readFile(project.root / "a/keep.txt"), "keep");
    EXPECT_EQ(entriesIn(project.outside), 0u);
}

TEST_F(ProjectFileSaveTest, WriteFailuresKeepWhatWasThere) {
    const auto missingFolder = save("no/such/folder.txt", "x");
    EXPECT_EQ(missingFolder.type, "project/file/error");
    EXPECT_EQ(messageOf(missingFolder), "保存に失敗しました: No such file or directory");
    EXPECT_FALSE(missingFolder.payload.contains("code"));
    EXPECT_FALSE(fs::exists(project.root / "no"));

    writeFile(project.root / "folder/keep.txt", "keep");
    const auto ontoFolder = save("folder", "x");
    EXPECT_EQ(ontoFolder.type, "project/file/error");
    EXPECT_TRUE(messageOf(ontoFolder).starts_with("保存に失敗しました: "));
    EXPECT_EQ(readFile(project.root / "folder/keep.txt"), "keep");
    EXPECT_EQ(entriesIn(project.root / "folder"), 1u);
    EXPECT_EQ(entriesIn(project.root), 1u);  // no temporary file left behind

    EXPECT_TRUE(messageOf(save("folder/..", "x")).starts_with("保存に失敗しました: "));
}

TEST_F(ProjectFileSaveTest, LinksAreWrittenThroughOnlyWhenTheyStayInside) {
    writeFile(project.root / "docs/real.md", "old");
    writeFile(project.outside / "secret.txt", "secret");
    fs::create_symlink("docs/real.md", project.root / "alias.md");
    fs::create_symlink(project.outside / "secret.txt", project.root / "escape.txt");
    fs::create_directory_symlink(project.outside, project.root / "out");

    EXPECT_EQ(save("alias.md", "new").type, "project/file/saved");
    EXPECT_EQ(readFile(project.root / "docs/real.md"), "new");
    EXPECT_TRUE(fs::is_symlink(project.root / "alias.md"));

    EXPECT_EQ(messageOf(save("escape.txt", "pwned")), "保存パスが不正です");
    EXPECT_EQ(messageOf(save("out/new.txt", "pwned")), "保存パスが不正です");
    EXPECT_EQ(messageOf(save("out/secret.txt", "pwned")), "保存パスが不正です");
    EXPECT_EQ(readFile(project.outside / "secret.txt"), "secret");
    EXPECT_EQ(entriesIn(project.outside), 1u);
    EXPECT_TRUE(fs::is_symlink(project.root / "escape.txt"));
}

// Containment before existence, and a link that dangles inside creates the file it names.
TEST_F(ProjectFileSaveTest, LinksLeadingOutRefuseBeforeAnythingIsLookedUp) {
    fs::create_directory_symlink(project.outside, project.root / "link-out");
    for (const std::string path : {"link-out/new.txt", "link-out/no/such/folder.txt"})
        EXPECT_EQ(messageOf(save(path, "pwned")), "保存パスが不正です") << path;
    EXPECT_EQ(entriesIn(project.outside), 0u);

    fs::create_directories(project.root / "docs");
    fs::create_symlink("docs/new.md", project.root / "dangling-in");
    EXPECT_EQ(save("dangling-in", "through").type, "project/file/saved");
    EXPECT_EQ(readFile(project.root / "docs/new.md"), "through");
    EXPECT_TRUE(fs::is_symlink(project.root / "dangling-in"));
}

TEST_F(ProjectFileSaveTest, SpecialFilesAreNeitherOpenedNorReplaced) {
    ASSERT_EQ(mkfifo((project.root / "pipe").c_str(), 0644), 0);
    const auto event = save("pipe", "text");
    EXPECT_EQ(event.type, "project/file/error");
    EXPECT_EQ(messageOf(event), "保存に失敗しました: Invalid argument");
    EXPECT_EQ(fs::status(project.root / "pipe").type(), fs::file_type::fifo);
}

// The save goes through a temporary file renamed over the target, which the folder's write permission
// allows even where the file's own mode forbids writing it; a plain write would be refused.
TEST_F(ProjectFileSaveTest, AFileTheUserMayNotWriteIsRefusedAndKept) {
    const auto run = runWithoutRootRights(project.root, [&] {
        auto make = [](const char* name, const char* text, mode_t mode) {
            UniqueFd fd(open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            const bool written =
                fd.valid() && write(fd.get(), text, strlen(text)) == static_cast<ssize_t>(strlen(text));
            return written && fchmod(fd.get(), mode) == 0;
        };
        if (!make("locked.txt", "locked", 0444) || !make("open.txt", "open", 0644)) return std::string("{}");
        Json answers = Json::object();
        for (const char* name : {"locked.txt", "open.txt", "new.txt"}) {
            const auto event = operations.saveFile(projectUuid(), ".", name, "changed");
            answers[name] = {{"type", event.type}, {"message", messageOf(event)}};
        }
        answers["folder"] = Json::array();
        for (const auto& entry : fs::directory_iterator("."))
            answers["folder"].push_back(entry.path().filename().string());
        return json::encode(answers);
    });
    if (!run.output) {
        ASSERT_FALSE(run.skipReason.empty()) << "the child failed";
        GTEST_SKIP() << run.skipReason;
    }
    const auto answers = json::parse(*run.output);
    ASSERT_TRUE(answers && answers->contains("folder")) << *run.output;
    EXPECT_EQ((*answers)["locked.txt"],
              Json({{"type", "project/file/error"}, {"message", "保存に失敗しました: Permission denied"}}));
    EXPECT_EQ(readFile(project.root / "locked.txt"), "locked");
    EXPECT_EQ(test::fileMode(project.root / "locked.txt"), 0444u);

    EXPECT_EQ((*answers)["open.txt"]["type"], "project/file/saved");
    EXPECT_EQ(readFile(project.root / "open.txt"), "changed");
    EXPECT_EQ((*answers)["new.txt"]["type"], "project/file/saved");
    EXPECT_EQ(test::fileMode(project.root / "new.txt"), 0644u);
    EXPECT_EQ((*answers)["folder"].size(), 3u) << *run.output;  // no temporary file left behind
}

// What `command` printed, or "failed".
std::string outputOf(const std::string& command) {
    return commandOutput(command).value_or("failed");
}

// Fault mended, as a user without root's rights: a saved file lost its access ACL (the user it named
// lost access, the owning group gained write), and a new one never got its folder's default ACL.
TEST_F(ProjectFileSaveTest, ASaveKeepsTheAccessTheFileAndItsFolderGive) {
    const auto run = runWithoutRootRights(project.root, [&] {
        Json answers = Json::object();
        test::writeFile("./named.txt", "old");
        fs::create_directories("team");
        if (outputOf("setfacl -m u:daemon:rw,g::r,m::rw,o::- named.txt") == "failed" ||
            outputOf("setfacl -d -m u:daemon:rw,g::rw,o::- team") == "failed")
            return std::string("skip:no setfacl, or a file system without ACLs");
        answers["before"] = outputOf("getfacl -cn named.txt");
        ::close(::open("team/plain.txt", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        answers["plain"] = outputOf("getfacl -cn team/plain.txt");
        for (const char* path : {"named.txt", "team/new.txt"}) {
            const auto event = operations.saveFile(projectUuid(), ".", path, "changed");
            answers["type"].push_back(event.type);
        }
        answers["after"] = outputOf("getfacl -cn named.txt");
        answers["new"] = outputOf("getfacl -cn team/new.txt");
        return json::encode(answers);
    });
    if (!run.output) {
        ASSERT_FALSE(run.skipReason.empty()) << "the child failed";
        GTEST_SKIP() << run.skipReason;
    }
    const auto answers = json::parse(*run.output);
    ASSERT_TRUE(answers && answers->contains("new")) << *run.output;
    EXPECT_EQ((*answers)["type"], Json::array({"project/file/saved", "project/file/saved"}));
    EXPECT_EQ(readFile(project.root / "named.txt"), "changed");
    EXPECT_NE((*answers)["before"].get<std::string>().find("user:1:rw-"), std::string::npos) << *run.output;
    EXPECT_EQ((*answers)["after"], (*answers)["before"]);
    EXPECT_EQ(test::fileMode(project.root / "named.txt"), 0660u);
    EXPECT_NE((*answers)["plain"].get<std::string>().find("user:1:rw-"), std::string::npos) << *run.output;
    EXPECT_EQ((*answers)["new"], (*answers)["plain"]);
}

}  // namespace
}  // namespace pelko::test
