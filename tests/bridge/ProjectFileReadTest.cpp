#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "bridge/ProjectFileTestSupport.hpp"
#include "platform/Base64.hpp"

namespace fs = std::filesystem;

namespace pelko::test {
namespace {

class ProjectFileReadTest : public ::testing::Test {
  protected:
    ProjectFolder project;
    ProjectFileOperations operations;

    BridgeEvent read(const std::string& path, bool allowLargeFile = false) {
        return operations.readFile(projectUuid(), project.root, path, allowLargeFile);
    }

    // A file of `size` bytes that occupies no disk space.
    void sparseFile(const std::string& name, off_t size) {
        int fd = open((project.root / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, size), 0);
        close(fd);
    }

    void expectError(const std::string& path, const std::string& message) {
        const auto event = read(path);
        EXPECT_EQ(event.type, "project/file/error") << path;
        EXPECT_EQ(decoded(event), Json({{"projectId", kProjectIdText}, {"path", path}, {"message", message}}))
            << path;
    }
};

TEST_F(ProjectFileReadTest, ReadsTextAndRepeatsThePathAsSent) {
    writeFile(project.root / "src/a.txt", "héllo\n");
    for (const std::string path : {"src/a.txt", "/src/a.txt", "//src/a.txt", "./src//a.txt"}) {
        const auto event = read(path);
        EXPECT_EQ(event.type, "project/file/content");
        EXPECT_EQ(json::encode(event.payload), std::string(R"({"projectId":")") + kProjectIdText +
                                                   R"(","path":")" + json::encode(path).substr(1) +
                                                   R"(,"content":"héllo\n"})");
    }
}

TEST_F(ProjectFileReadTest, RejectsPathsThatLeaveTheProject) {
    writeFile(project.outside / "secret.txt", "secret");
    writeFile(project.root / "a.txt", "a");
    for (const std::string& path : {std::string(), std::string("/"), std::string("../x"), std::string(".."),
                                    std::string("a/../../x"), std::string("a/../../outside/secret.txt"),
                                    std::string("src/../.."), std::string("a.txt\0.png", 10)})
        expectError(path, "無効なパスです");
}

TEST_F(ProjectFileReadTest, MissingFilesFoldersAndTheRootItself) {
    fs::create_directories(project.root / "src");
    expectError("nothing.txt", "ファイルが見つかりませんでした");
    expectError("src", "ディレクトリは表示できません");
    expectError("src/..", "ディレクトリは表示できません");
    // A file taken for a folder holds nothing; a trailing "/" is dropped like a repeated one.
    writeFile(project.root / "src/a.txt", "a");
    expectError("src/a.txt/b", "ファイルが見つかりませんでした");
    EXPECT_EQ(decoded(read("src/a.txt/"))["content"], "a");
    // Names are bytes: the decomposed spelling does not find the composed file.
    writeFile(project.root / "caf\xC3\xA9.txt", "x");
    expectError("cafe\xCC\x81.txt", "ファイルが見つかりませんでした");
}

TEST_F(ProjectFileReadTest, FifoAndSocketAnswerUnreadableWithoutBlocking) {
    ASSERT_EQ(mkfifo((project.root / "pipe").c_str(), 0644), 0);
    expectError("pipe", "ファイルをテキストとして読み込めませんでした");

    const std::string socketPath = (project.root / "sock").string();
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    expectError("sock", "ファイルをテキストとして読み込めませんでした");
    close(fd);
}

TEST_F(ProjectFileReadTest, SymbolicLinksMustStayInsideTheProject) {
    writeFile(project.root / "docs/real.md", "inside");
    writeFile(project.outside / "secret.txt", "secret");
    fs::create_symlink("docs/real.md", project.root / "alias.md");
    fs::create_directory_symlink(project.root / "docs", project.root / "docs-link");
    fs::create_symlink(project.outside / "secret.txt", project.root / "escape.txt");
    fs::create_directory_symlink(project.outside, project.root / "out");
    fs::create_symlink("/dev/zero", project.root / "zero");

    EXPECT_EQ(decoded(read("alias.md"))["content"], "inside");
    EXPECT_EQ(decoded(read("docs-link/real.md"))["content"], "inside");
    expectError("escape.txt", "無効なパスです");
    expectError("out/secret.txt", "無効なパスです");
    expectError("out", "無効なパスです");
    expectError("zero", "無効なパスです");

    // A root reached through a link still reads.
    const fs::path linkedRoot = project.temp / "linked-root";
    fs::create_directory_symlink(project.root, linkedRoot);
    EXPECT_EQ(decoded(operations.readFile(projectUuid(), linkedRoot, "docs/real.md", false))["content"],
              "inside");
}

// Fault mended: a missing file beyond a link leading out answered "not found" and an existing one
// "invalid path", which told the page what exists outside.
TEST_F(ProjectFileReadTest, OutsideIsAnsweredBeforeMissing) {
    writeFile(project.outside / "secret.txt", "secret");
    fs::create_directory_symlink(project.outside, project.root / "link-out");
    fs::create_symlink("../outside/none", project.root / "dangling-out");
    for (const std::string path : {"link-out/secret.txt", "link-out/no-such.txt", "link-out/no/such.txt",
                                   "dangling-out", "~/secret.txt"})
        expectError(path, "無効なパスです");
}

TEST_F(ProjectFileReadTest, ImagesAreSentAsBase64WithTheirType) {
    const std::string png("\x89PNG\r\n\x1a\n\0\xff", 10);
    writeFile(project.root / "Logo.PNG", png);
    writeFile(project.root / "icon.svg", "<svg/>");
    const auto image = read("Logo.PNG");
    EXPECT_EQ(image.type, "project/file/content");
    EXPECT_EQ(decoded(image), Json({{"projectId", kProjectIdText},
                                    {"path", "Logo.PNG"},
                                    {"content", base64::encode(std::string_view(png))},
                                    {"encoding", "base64"},
                                    {"mimeType", "image/png"}}));
    const auto svg = decoded(read("icon.svg"));
    EXPECT_EQ(svg["content"], base64::encode(std::string_view("<svg/>")));
    EXPECT_EQ(svg["mimeType"], "image/svg+xml");
}

TEST_F(ProjectFileReadTest, InvalidUtf8IsDecodedAsLatin1) {
    writeFile(project.root / "legacy.txt", "caf\xE9 \xFF");
    EXPECT_EQ(decoded(read("legacy.txt"))["content"], "caf\xC3\xA9 \xC3\xBF");
    writeFile(project.root / "overlong.txt", "\xC0\xAF");
    EXPECT_EQ(decoded(read("overlong.txt"))["content"], "\xC3\x80\xC2\xAF");
    writeFile(project.root / "empty.txt", "");
    EXPECT_EQ(decoded(read("empty.txt"))["content"], "");
}

TEST_F(ProjectFileReadTest, SoftLimitAsksForConfirmation) {
    sparseFile("at-soft.txt", ProjectFileOperations::softLimitBytes);
    sparseFile("above-soft.txt", ProjectFileOperations::softLimitBytes + 1);

    const auto atLimit = read("at-soft.txt");
    EXPECT_EQ(atLimit.type, "project/file/content");
    EXPECT_EQ(atLimit.payload["content"].get_ref<const std::string&>().size(), 31457280u);

    const auto confirm = read("above-soft.txt");
    EXPECT_EQ(confirm.type, "project/file/confirm");
    EXPECT_EQ(json::encode(confirm.payload), std::string(R"({"projectId":")") + kProjectIdText +
                                                 R"(","path":"above-soft.txt","sizeBytes":31457281,)"
                                                 R"("softLimitBytes":31457280,"hardLimitBytes":314572800})");

    const auto allowed = read("above-soft.txt", true);
    EXPECT_EQ(allowed.type, "project/file/content");
    EXPECT_EQ(allowed.payload["content"].get_ref<const std::string&>().size(), 31457281u);
}

TEST_F(ProjectFileReadTest, HardLimitRefusesEvenWhenLargeFilesAreAllowed) {
    sparseFile("at-hard.txt", ProjectFileOperations::hardLimitBytes);
    sparseFile("above-hard.txt", ProjectFileOperations::hardLimitBytes + 1);

    const auto atLimit = read("at-hard.txt", true);
    EXPECT_EQ(atLimit.type, "project/file/content");
    EXPECT_EQ(atLimit.payload["content"].get_ref<const std::string&>().size(), 314572800u);
    EXPECT_EQ(read("at-hard.txt").type, "project/file/confirm");

    const std::string tooLarge = ProjectFileOperations::tooLargeMessage(314572801, 314572800);
    for (bool allow : {false, true}) {
        const auto refused = read("above-hard.txt", allow);
        EXPECT_EQ(refused.type, "project/file/error");
        EXPECT_EQ(messageOf(refused), tooLarge);
        EXPECT_FALSE(refused.payload.contains("code"));
    }
}

}  // namespace
}  // namespace pelko::test
