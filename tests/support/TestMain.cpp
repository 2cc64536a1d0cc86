#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Environment.hpp"
#include "support/TestSupport.hpp"

namespace fs = std::filesystem;

namespace pelko::test {
namespace {
fs::path gRoot;
}

const fs::path& testRoot() {
    return gRoot;
}

TempDir::TempDir() {
    std::string pattern = (gRoot / "tmp.XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void writeFile(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

std::vector<Json> readJsonLines(const fs::path& path) {
    std::vector<Json> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        auto value = json::parse(line);
        EXPECT_TRUE(value.has_value()) << line;
        if (value) lines.push_back(std::move(*value));
    }
    return lines;
}

mode_t fileMode(const fs::path& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return 0;
    return info.st_mode & 07777;
}

std::optional<std::string> commandOutput(const std::string& command) {
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string output;
    char buffer[4096];
    for (std::size_t count; (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, count);
    return pclose(pipe) == 0 ? std::optional(output) : std::nullopt;
}

std::vector<std::string> processEnvironmentWith(const std::map<std::string, std::string>& extra) {
    auto values = Environment::process().all();
    for (const auto& [name, value] : extra) values[name] = value;
    std::vector<std::string> entries;
    for (const auto& [name, value] : values) entries.push_back(name + "=" + value);
    return entries;
}

}  // namespace pelko::test

int main(int argc, char** argv) {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/pelko-test.XXXXXX";
    if (!mkdtemp(pattern.data())) return 2;
    pelko::test::gRoot = fs::canonical(pattern);
    const fs::path& root = pelko::test::gRoot;
    for (const char* sub : {"home", "data", "cache", "runtime", "tmp"}) fs::create_directories(root / sub);
    fs::permissions(root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    setenv("HOME", (root / "home").c_str(), 1);
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root / "runtime").c_str(), 1);
    setenv("TMPDIR", (root / "tmp").c_str(), 1);
    (void)pelko::Environment::process();

    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    std::error_code ec;
    fs::remove_all(root, ec);
    return result;
}
