#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "platform/Date.hpp"
#include "platform/Json.hpp"
#include "platform/XdgFolders.hpp"
#include "support/TestSupport.hpp"
#include "terminal/TerminalLogger.hpp"

namespace pelko {
namespace {

namespace fs = std::filesystem;
TEST(TerminalLoggerTest, LinesCarryOnlyTheFieldsGiven) {
    test::TempDir folder;
    TerminalLogger logger(folder / "pelko-terminal.log");
    Uuid id = Uuid::random();
    logger.record({id, TerminalLogEvent::Event::output, std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o'},
                   std::nullopt, std::nullopt});
    logger.record({id, TerminalLogEvent::Event::ready});
    logger.record({id, TerminalLogEvent::Event::spawn, std::nullopt, "spawn",
                   std::map<std::string, std::string>{{"cwd", "/a/b"}}});
    logger.flush();
    auto lines = test::readJsonLines(folder / "pelko-terminal.log");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0]["chunkBase64"], "aGVsbG8=");
    EXPECT_EQ(lines[0]["session"], id.string());
    EXPECT_EQ(lines[0]["event"], "output");
    EXPECT_FALSE(lines[0].contains("message"));
    std::vector<std::string> keys;
    for (auto& [key, value] : lines[1].items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"ts", "session", "event"}));
    EXPECT_TRUE(Date::parseIso(lines[1]["ts"].get<std::string>()));
    EXPECT_EQ(lines[2]["metadata"]["cwd"], "/a/b");
    EXPECT_NE(test::readFile(folder / "pelko-terminal.log").find(R"(\/a\/b)"), std::string::npos);
}

TEST(TerminalLoggerTest, RotatesPastTheLimitKeepingOneBackup) {
    test::TempDir folder;
    fs::path file = folder / "t.log";
    TerminalLogger logger(file, 100);
    Uuid id = Uuid::random();
    for (int i = 0; i < 2; ++i) logger.record({id, TerminalLogEvent::Event::ready});
    logger.flush();
    EXPECT_GT(fs::file_size(file), 100u);
    EXPECT_FALSE(fs::exists(folder / "t.log.1"));
    logger.record({id, TerminalLogEvent::Event::exit});
    logger.flush();
    ASSERT_TRUE(fs::exists(folder / "t.log.1"));
    EXPECT_EQ(test::readJsonLines(file).size(), 1u);
    EXPECT_EQ(test::readJsonLines(folder / "t.log.1").size(), 2u);

    // Deleted while running: the next line creates it anew.
    fs::remove(file);
    logger.record({id, TerminalLogEvent::Event::ready});
    logger.flush();
    EXPECT_EQ(test::readJsonLines(file).size(), 1u);
}

TEST(TerminalLoggerTest, TypedInputIsPrivate) {
    fs::path folder = XdgFolders::process().appCache();
    fs::remove_all(folder);
    TerminalLogger logger;
    EXPECT_EQ(logger.fileURL(), folder / "pelko-terminal.log");
    logger.record({Uuid::random(), TerminalLogEvent::Event::input, std::vector<std::uint8_t>{'p', 'w'}});
    logger.flush();
    EXPECT_EQ(test::fileMode(folder), 0700u);
    EXPECT_EQ(test::fileMode(logger.fileURL()), 0600u);
}

TEST(TerminalLoggerTest, LinesFromManyThreadsStayWhole) {
    test::TempDir folder;
    TerminalLogger logger(folder / "t.log");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&logger] {
            Uuid id = Uuid::random();
            for (int i = 0; i < 50; ++i) {
                logger.record({id, TerminalLogEvent::Event::output, std::vector<std::uint8_t>(300, 'z')});
            }
        });
    }
    for (auto& thread : threads) thread.join();
    logger.flush();
    EXPECT_EQ(test::readJsonLines(folder / "t.log").size(), 200u);
}

}  // namespace
}  // namespace pelko
