#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/Base64.hpp"
#include "terminal/TerminalSessionFixture.hpp"

namespace pelko {
namespace {

using SilentInputTest = test::TerminalSessionFixture;

constexpr auto patience = std::chrono::seconds(60);

// Whether the shell's terminal, read through the shell's own standard input, is in the given modes.
bool terminalModesAre(pid_t shell, bool canonical, bool echo) {
    int fd = open(("/proc/" + std::to_string(shell) + "/fd/0").c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    termios settings{};
    bool read = tcgetattr(fd, &settings) == 0;
    close(fd);
    return read && ((settings.c_lflag & ICANON) != 0) == canonical &&
           ((settings.c_lflag & ECHO) != 0) == echo;
}

bool waitForModes(pid_t shell, bool canonical, bool echo) {
    return test::waitFor([&] { return terminalModesAre(shell, canonical, echo); }, patience);
}

struct InputLog {
    std::string text;           // the whole file
    std::string typed;          // the input chunks the log holds, decoded, in order
    std::size_t withheldBytes;  // the lengths of the input events logged without their bytes
    std::size_t withheldEvents;
};

InputLog inputLog(TerminalLogger& logger, const Uuid& session) {
    logger.flush();
    InputLog log{test::readFile(logger.fileURL()), {}, 0, 0};
    for (const auto& line : test::readJsonLines(logger.fileURL())) {
        if (line["session"] != session.string() || line["event"] != "input") continue;
        auto chunk = base64::decode(line["chunkBase64"].get<std::string>());
        EXPECT_TRUE(chunk);
        if (chunk) log.typed.append(chunk->begin(), chunk->end());
        if (line.contains("metadata")) {
            EXPECT_TRUE(chunk && chunk->empty());
            log.withheldBytes += std::stoul(line["metadata"]["length"].get<std::string>());
            ++log.withheldEvents;
        }
    }
    return log;
}

void expectNowhere(const InputLog& log, const std::string& secret) {
    EXPECT_EQ(log.text.find(secret), std::string::npos);
    EXPECT_EQ(log.text.find(base64::encode(secret.substr(0, secret.size() / 3 * 3))), std::string::npos);
    EXPECT_EQ(log.typed.find(secret), std::string::npos);
}

TEST_F(SilentInputTest, ZshPasswordPromptsKeepTheirBytesOffTheLog) {
    auto session = addSession();
    pid_t shell = waitForCreated(session.id);
    ASSERT_GT(shell, 0);
    // At the line editor echo is off too, but input is read key by key: it is logged as typed.
    ASSERT_TRUE(waitForModes(shell, false, false));
    const std::string command = "read -s first; print -r -- first-${#first}\n";
    for (char key : command) type(session.id, std::string(1, key));
    ASSERT_TRUE(waitForModes(shell, true, false));
    // The page sends a key at a time.
    const std::string first = "Quokka-Hidden-4412";
    for (char key : first + "\n") type(session.id, std::string(1, key));
    ASSERT_TRUE(
        test::waitFor([&] { return bridge->outputContains(session.id.string(), "first-18"); }, patience));

    type(session.id, "stty -echo; read second; stty echo; print -r -- second-${#second}\n");
    ASSERT_TRUE(waitForModes(shell, true, false));
    const std::string second = "Wombat-Covert-9087";
    type(session.id, second + "\n");
    ASSERT_TRUE(
        test::waitFor([&] { return bridge->outputContains(session.id.string(), "second-18"); }, patience));

    auto log = inputLog(*logger, session.id);
    expectNowhere(log, first);
    expectNowhere(log, second);
    EXPECT_EQ(log.withheldEvents, first.size() + 2);
    EXPECT_EQ(log.withheldBytes, first.size() + second.size() + 2);
    EXPECT_NE(log.typed.find(command), std::string::npos) << log.typed;
    EXPECT_NE(log.typed.find("stty -echo; read second"), std::string::npos) << log.typed;
}

TEST_F(SilentInputTest, BashSilentReadKeepsItsBytesOffTheLog) {
    auto session = addSession("/bin/bash");
    pid_t shell = waitForCreated(session.id);
    ASSERT_GT(shell, 0);
    type(session.id, "read -s hidden; echo hidden-${#hidden}\n");
    ASSERT_TRUE(waitForModes(shell, true, false));
    const std::string secret = "Numbat-Private-3141";
    type(session.id, secret + "\n");
    ASSERT_TRUE(
        test::waitFor([&] { return bridge->outputContains(session.id.string(), "hidden-19"); }, patience));

    auto log = inputLog(*logger, session.id);
    expectNowhere(log, secret);
    EXPECT_EQ(log.withheldBytes, secret.size() + 1);
    EXPECT_NE(log.typed.find("read -s hidden"), std::string::npos) << log.typed;
}

TEST(TerminalMasterHandleTest, SettingsThatCannotBeReadCountAsSilent) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    close(fds[1]);
    TerminalMasterHandle handle(fds[0]);
    EXPECT_TRUE(handle.atSilentPrompt());
    handle.close();
    EXPECT_TRUE(handle.atSilentPrompt());
}

}  // namespace
}  // namespace pelko
