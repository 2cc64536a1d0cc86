#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/Json.hpp"
#include "support/TestSupport.hpp"
#include "terminal/TerminalDebugDumpStore.hpp"
#include "terminal/TerminalDebugDumpWriter.hpp"

namespace pelko {
namespace {

namespace fs = std::filesystem;
std::span<const std::uint8_t> bytes(const std::string& text) {
    return std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}
TEST(TerminalDebugDumpStoreTest, ChunksAreNumberedPerSessionInPrivateFiles) {
    test::TempDir root;
    auto store = std::make_shared<TerminalDebugDumpStore>(root / "dumps");
    Uuid id = Uuid::random();
    auto writer = TerminalDebugDumpWriter::create(store, id);
    ASSERT_TRUE(writer);
    writer->record(bytes("a\r\r"), bytes("a\r"));
    writer->record(bytes(std::string(200, 'q')), bytes("\xff"));
    store->flush();
    fs::path file = root / "dumps" / (id.string() + ".jsonl");
    auto lines = test::readJsonLines(file);
    ASSERT_EQ(lines.size(), 2u);
    std::vector<std::string> keys;
    for (auto& [key, value] : lines[0].items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"ts", "sequence", "rawBase64", "normalizedBase64", "rawCount",
                                              "normalizedCount", "rawPreviewUTF8", "normalizedPreviewUTF8"}));
    EXPECT_EQ(lines[0]["sequence"], 0);
    EXPECT_EQ(lines[0]["rawCount"], 3);
    EXPECT_EQ(lines[1]["sequence"], 1);
    EXPECT_EQ(lines[1]["rawPreviewUTF8"].get<std::string>().size(), 120u);
    EXPECT_FALSE(lines[1].contains("normalizedPreviewUTF8"));
    EXPECT_EQ(test::fileMode(root / "dumps"), 0700u);
    EXPECT_EQ(test::fileMode(file), 0600u);
}

TEST(TerminalDebugDumpStoreTest, RotationKeepsThreeGenerations) {
    test::TempDir root;
    TerminalDebugDumpPolicy policy;
    policy.maxFileSizeBytes = 400;
    auto store = std::make_shared<TerminalDebugDumpStore>(root / "dumps", policy);
    Uuid id = Uuid::random();
    ASSERT_TRUE(store->prepareForWriting());
    for (int i = 0; i < 8; ++i) store->record(id, bytes(std::string(60, 'a' + i)), bytes("n"));
    store->flush();
    auto name = [&](const std::string& suffix) { return root / "dumps" / (id.string() + suffix); };
    EXPECT_TRUE(fs::exists(name(".jsonl")));
    EXPECT_TRUE(fs::exists(name(".1.jsonl")));
    EXPECT_TRUE(fs::exists(name(".2.jsonl")));
    EXPECT_FALSE(fs::exists(name(".3.jsonl")));
    for (auto suffix : {".jsonl", ".1.jsonl", ".2.jsonl"}) EXPECT_LE(fs::file_size(name(suffix)), 400u);
    // The newest line is in the generation-0 file.
    EXPECT_EQ(test::readJsonLines(name(".jsonl")).back()["sequence"], 7);
}

TEST(TerminalDebugDumpStoreTest, MaintenanceRemovesOldExcessAndOversizedFiles) {
    test::TempDir root;
    fs::path dumps = root / "dumps";
    Uuid id = Uuid::random();
    test::writeFile(dumps / (id.string() + ".3.jsonl"), "x\n");
    test::writeFile(dumps / "notes.jsonl", "keep\n");
    test::writeFile(dumps / (id.string() + ".1.jsonl"), std::string(50, 'y'));
    TerminalDebugDumpPolicy policy;
    policy.maxFileSizeBytes = 40;
    TerminalDebugDumpStore store(dumps, policy);
    store.performStartupMaintenance();
    EXPECT_FALSE(fs::exists(dumps / (id.string() + ".3.jsonl")));
    EXPECT_FALSE(fs::exists(dumps / (id.string() + ".1.jsonl")));
    EXPECT_TRUE(fs::exists(dumps / "notes.jsonl"));

    // Eight days later everything has expired, even with dumps off.
    auto later = [] { return Date::fromMilliseconds(Date::now().milliseconds() + 8LL * 86400 * 1000); };
    TerminalDebugDumpStore aged(dumps, {}, later);
    aged.performStartupMaintenance();
    EXPECT_FALSE(fs::exists(dumps / "notes.jsonl"));

    EXPECT_EQ(TerminalDebugDumpStore::generation(id.string() + ".2.jsonl"), 2);
    EXPECT_EQ(TerminalDebugDumpStore::generation(id.string() + ".jsonl"), 0);
    EXPECT_FALSE(TerminalDebugDumpStore::generation("x.1.jsonl"));
}

TEST(TerminalDebugDumpStoreTest, FullFolderDropsOtherSessionsOldestFirst) {
    test::TempDir root;
    fs::path dumps = root / "dumps";
    TerminalDebugDumpPolicy policy;
    policy.maxDirectorySizeBytes = 1000;
    auto store = std::make_shared<TerminalDebugDumpStore>(dumps, policy);
    Uuid oldest = Uuid::random();
    Uuid newer = Uuid::random();
    test::writeFile(dumps / (oldest.string() + ".jsonl"), std::string(450, 'o'));
    test::writeFile(dumps / (newer.string() + ".jsonl"), std::string(450, 'n'));
    auto past = fs::file_time_type::clock::now() - std::chrono::hours(2);
    fs::last_write_time(dumps / (oldest.string() + ".jsonl"), past);
    Uuid writer = Uuid::random();
    ASSERT_TRUE(store->prepareForWriting());
    store->record(writer, bytes(std::string(20, 'w')), bytes("w"));
    store->flush();
    EXPECT_FALSE(fs::exists(dumps / (oldest.string() + ".jsonl")));
    EXPECT_TRUE(fs::exists(dumps / (newer.string() + ".jsonl")));
    EXPECT_TRUE(fs::exists(dumps / (writer.string() + ".jsonl")));
}

TEST(TerminalDebugDumpStoreTest, LinkedOrBlockedFolderGetsNoWriter) {
    test::TempDir root;
    fs::create_directories(root / "real");
    fs::create_directory_symlink(root / "real", root / "link");
    auto linked = std::make_shared<TerminalDebugDumpStore>(root / "link");
    EXPECT_FALSE(TerminalDebugDumpWriter::create(linked, Uuid::random()));
    EXPECT_TRUE(fs::is_empty(root / "real"));

    test::writeFile(root / "file", "x");
    auto blocked = std::make_shared<TerminalDebugDumpStore>(root / "file");
    EXPECT_FALSE(blocked->prepareForWriting());
}

}  // namespace
}  // namespace pelko
