// Listings against real folders: normalization, exclusion rules, ordering, links, errors, and the
// two faults mended here (names that are not valid UTF-8, a project rooted at "/").
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "explorer/ExplorerExclusionRules.hpp"
#include "explorer/ExplorerService.hpp"
#include "platform/Json.hpp"
#include "platform/XdgFolders.hpp"
#include "support/TestSupport.hpp"

namespace fs = std::filesystem;

namespace pelko {
namespace {

using test::TempDir;
using test::writeFile;

std::vector<std::string> names(const ExplorerDirectorySnapshot& snapshot) {
    std::vector<std::string> result;
    for (const auto& node : snapshot.nodes) result.push_back(node.name);
    return result;
}

TEST(ExplorerNormalization, RequestedPaths) {
    struct Case {
        std::string input;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"", ""},
        {".", ""},
        {"./", ""},
        {"src", "src"},
        {"src/", "src"},
        {"src//lib/./x", "src/lib/x"},
        {"a/b/..", "a"},
        {"a/..", ""},
        {"/etc", std::nullopt},
        {"..", std::nullopt},
        {"../x", std::nullopt},
        {"a/../../x", std::nullopt},
        {"~", std::nullopt},
        {"~/x", std::nullopt},
        {"~name", "~name"},
        {std::string("a\0/../../etc", 12), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExplorerService::normalizeRelativePath(c.input), c.expected) << c.input;
    }
}

TEST(ExplorerNormalization, RelativePathUnderRoot) {
    EXPECT_EQ(ExplorerService::relativePath("/p/root", "/p/root"), "");
    EXPECT_EQ(ExplorerService::relativePath("/p/root/", "/p/root"), "");
    EXPECT_EQ(ExplorerService::relativePath("/p/root/a/b", "/p/root/"), "a/b");
    EXPECT_EQ(ExplorerService::relativePath("/p/rootless/a", "/p/root"), std::nullopt);
    EXPECT_EQ(ExplorerService::relativePath("/p", "/p/root"), std::nullopt);
    EXPECT_EQ(ExplorerService::relativePath("/p/root/../x", "/p/root"), std::nullopt);
    // A project rooted at "/" holds every absolute path.
    EXPECT_EQ(ExplorerService::relativePath("/", "/"), "");
    EXPECT_EQ(ExplorerService::relativePath("/etc/hosts", "/"), "etc/hosts");
    EXPECT_EQ(ExplorerService::relativePath("//etc", "/"), "etc");
}

TEST(ExplorerExclusionRules, BuiltInsAndProjectPaths) {
    ExplorerExclusionRules rules(
        {"build/out", "dist", ".", "", "/abs", "../up", "a/../../up", "~/x", "x/./y/"});
    struct Case {
        const char* path;
        bool excluded;
    };
    const Case cases[] = {
        {"", false},
        {"node_modules", true},
        {"src/node_modules", true},
        {"src/node_modules/pkg", true},
        {".git/objects", true},
        {"a/.DS_Store", true},
        {"Pods", true},
        {"tmp", true},
        {".build/x", true},
        {".github", false},
        {"node_modules_extra", false},
        {"build/out", true},
        {"build/out/x", true},
        {"build/outer", false},
        {"build", false},
        {"dist", true},
        {"a/b/dist/c", true},
        {"x/y", true},
        {"abs", false},
        {"up", false},
        {"x", false},
    };
    for (const auto& c : cases) EXPECT_EQ(rules.contains(c.path), c.excluded) << c.path;
    // Dropped entries leave no trace; "." and "" add nothing.
    EXPECT_EQ(rules.names().size(), ExplorerExclusionRules::builtInNames().size() + 1);
    EXPECT_EQ(rules.paths(), (std::vector<std::string>{"build/out", "x/y"}));
}

class ExplorerListingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::path(project.path()) / "project";
        fs::create_directories(root);
    }
    std::vector<ExplorerDirectorySnapshot> list(const std::vector<std::string>& paths,
                                                const std::vector<std::string>& excluded = {}) {
        return service.listDirectories(root, paths, excluded);
    }

    TempDir project;
    fs::path root;
    ExplorerService service;
};

TEST_F(ExplorerListingTest, RootOrderAndEntryShape) {
    fs::create_directories(root / "b");
    fs::create_directories(root / "A");
    writeFile(root / "a.txt", "");
    writeFile(root / "B.txt", "");
    fs::create_directories(root / ".github");
    writeFile(root / ".DS_Store", "");
    fs::create_directories(root / "node_modules/x");
    ::mkfifo((root / "fifo").c_str(), 0600);

    auto result = list({"", "."});
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[0], result[1]);
    EXPECT_EQ(result[0].path, "");
    EXPECT_FALSE(result[0].error);
    EXPECT_EQ(names(result[0]), (std::vector<std::string>{".github", "A", "b", "a.txt", "B.txt"}));
    EXPECT_EQ(result[0].nodes[1].path, "A");
    EXPECT_EQ(result[0].nodes[1].type, ExplorerNodePayload::Type::folder);
    EXPECT_EQ(result[0].nodes[3].type, ExplorerNodePayload::Type::file);
}

TEST_F(ExplorerListingTest, NestedFolderPathsAndCaseTies) {
    writeFile(root / "src/lib/Readme", "");
    writeFile(root / "src/lib/readme", "");
    writeFile(root / "src/lib/README", "");
    auto result = list({"src//lib/"});
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].path, "src/lib");
    // Equal ignoring case: byte order decides, so the order never depends on the directory.
    EXPECT_EQ(names(result[0]), (std::vector<std::string>{"README", "Readme", "readme"}));
    EXPECT_EQ(result[0].nodes[0].path, "src/lib/README");
}

TEST_F(ExplorerListingTest, ErrorsKeepRequestOrderAndPaths) {
    fs::create_directories(root / "src/node_modules/pkg");
    fs::create_directories(root / ".git/objects");
    writeFile(root / "file.txt", "x");
    fs::create_directories(root / "build/out/x");
    fs::create_directories(root / "build/outer");

    auto result = list({"/etc", "../x", "a/../../x", "node_modules", "src/node_modules/pkg", ".git/objects",
                        "missing", "file.txt", "build/out/x", "build", "src"},
                       {"build/out"});
    ASSERT_EQ(result.size(), 11u);
    const std::pair<std::string, std::optional<std::string>> expected[] = {
        {"/etc", "invalidPath"},
        {"../x", "invalidPath"},
        {"a/../../x", "invalidPath"},
        {"node_modules", "excluded"},
        {"src/node_modules/pkg", "excluded"},
        {".git/objects", "excluded"},
        {"missing", "notFound"},
        {"file.txt", "notFound"},
        {"build/out/x", "excluded"},
        {"build", std::nullopt},
        {"src", std::nullopt},
    };
    for (std::size_t i = 0; i < result.size(); ++i) {
        EXPECT_EQ(result[i].path, expected[i].first) << i;
        EXPECT_EQ(result[i].error, expected[i].second) << i;
        if (result[i].error) {
            EXPECT_TRUE(result[i].nodes.empty()) << i;
        }
    }
    EXPECT_EQ(names(result[9]), (std::vector<std::string>{"outer"}));
    EXPECT_TRUE(result[10].nodes.empty());
    EXPECT_TRUE(list({}).empty());
    // Excluded entries are requested as given; duplicates answer twice.
    auto duplicates = list({"missing/", "missing/"});
    ASSERT_EQ(duplicates.size(), 2u);
    EXPECT_EQ(duplicates[1].path, "missing/");
    EXPECT_EQ(json::encode(duplicates[0].toJson()), R"({"path":"missing\/","nodes":[],"error":"notFound"})");
}

TEST_F(ExplorerListingTest, SymbolicLinksInsideAndOutsideTheRoot) {
    fs::create_directories(root / "real/inner");
    writeFile(root / "real/file.txt", "");
    fs::create_directories(project / "outside/secret");
    fs::create_directory_symlink(root / "real", root / "linkIn");
    fs::create_directory_symlink(project / "outside", root / "linkOut");
    fs::create_symlink(root / "real/file.txt", root / "fileLink");

    auto result = list({"", "linkIn", "linkOut", "linkOut/secret", "real/../linkOut"});
    // Links are never listed as children.
    EXPECT_EQ(names(result[0]), (std::vector<std::string>{"real"}));
    // A link that stays inside lists its target; children carry their real paths.
    EXPECT_EQ(result[1].path, "linkIn");
    EXPECT_FALSE(result[1].error);
    EXPECT_EQ(names(result[1]), (std::vector<std::string>{"inner", "file.txt"}));
    EXPECT_EQ(result[1].nodes[0].path, "real/inner");
    for (std::size_t i = 2; i < result.size(); ++i) EXPECT_EQ(result[i].error, "notFound") << i;
}

TEST_F(ExplorerListingTest, RootGivenThroughALinkAndDotsIsResolved) {
    writeFile(root / "src/a.txt", "");
    fs::create_directory_symlink(root, project / "alias");
    auto result = service.listDirectories(project / "alias/./src/..", {"src"}, {});
    ASSERT_EQ(result.size(), 1u);
    EXPECT_FALSE(result[0].error);
    EXPECT_EQ(names(result[0]), (std::vector<std::string>{"a.txt"}));
    // A missing root lists nothing but answers every path.
    auto missing = service.listDirectories(project / "gone", {"", "x"}, {});
    ASSERT_EQ(missing.size(), 2u);
    EXPECT_EQ(missing[0].error, "notFound");
    EXPECT_EQ(missing[1].error, "notFound");
}

TEST_F(ExplorerListingTest, UnreadableFolderKeepsNormalizedPath) {
    writeFile(root / "file.txt", "");
    EXPECT_EQ(ExplorerService::listDirectChildren(root / "file.txt", root, ExplorerExclusionRules()),
              std::nullopt);
    fs::create_directories(root / "locked");
    std::vector<ExplorerDirectorySnapshot> result;
    if (::geteuid() == 0) {
        // Permission bits do not stop root: leave no descriptor free, so the folder cannot be opened.
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(lowestFree, 0);
        ::close(lowestFree);
        rlimit none = saved;
        none.rlim_cur = static_cast<rlim_t>(lowestFree);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
        result = list({"locked/"});
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    } else {
        fs::permissions(root / "locked", fs::perms::none);
        result = list({"locked/"});
        fs::permissions(root / "locked", fs::perms::owner_all);
    }
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].path, "locked");
    EXPECT_EQ(result[0].error, "unreadable");
}

// Fault mended: a name that is not valid UTF-8 must not cost the whole answer. It is listed and
// sorted with the rest, and replaced with U+FFFD only when the JSON text is written.
TEST_F(ExplorerListingTest, NameThatIsNotUtf8IsListedAndEncoded) {
    const std::string badName = "bad\xff\xfe.txt";
    writeFile(root / badName, "");
    writeFile(root / "apple.txt", "");
    writeFile(root / "zebra.txt", "");
    fs::create_directories(root / ("dir\xc3"));

    auto result = list({""});
    ASSERT_EQ(result.size(), 1u);
    ASSERT_FALSE(result[0].error);
    EXPECT_EQ(names(result[0]), (std::vector<std::string>{"dir\xc3", "apple.txt", badName, "zebra.txt"}));
    EXPECT_EQ(result[0].nodes[2].path, badName);

    std::string text;
    ASSERT_NO_THROW(text = json::encode(result[0].toJson()));
    EXPECT_NE(text.find("bad\xEF\xBF\xBD\xEF\xBF\xBD.txt"), std::string::npos) << text;
    EXPECT_NE(text.find("dir\xEF\xBF\xBD"), std::string::npos) << text;

    // The folder itself lists too.
    auto inner = list({"dir\xc3"});
    EXPECT_FALSE(inner[0].error);
}

// Fault mended: a project rooted at "/" must list (containment used to need a "//" prefix).
TEST(ExplorerRootListing, ProjectRootedAtSlashLists) {
    ExplorerService service;
    auto result = service.listDirectories("/", {"", "etc", "/etc", "tmp", "..", "usr/.."}, {});
    ASSERT_EQ(result.size(), 6u);
    EXPECT_FALSE(result[0].error);
    auto rootNames = names(result[0]);
    EXPECT_NE(std::find(rootNames.begin(), rootNames.end(), "etc"), rootNames.end());
    EXPECT_EQ(std::find(rootNames.begin(), rootNames.end(), "tmp"), rootNames.end());
    for (const auto& node : result[0].nodes) EXPECT_EQ(node.path, node.name);

    EXPECT_FALSE(result[1].error);
    EXPECT_EQ(result[1].path, "etc");
    ASSERT_FALSE(result[1].nodes.empty());
    EXPECT_TRUE(result[1].nodes[0].path.starts_with("etc/"));
    EXPECT_EQ(result[2].error, "invalidPath");
    EXPECT_EQ(result[3].error, "excluded");
    EXPECT_EQ(result[4].error, "invalidPath");
    EXPECT_FALSE(result[5].error);
    EXPECT_EQ(result[5].path, "");
    EXPECT_EQ(ExplorerService::resolveDirectory("etc", "/"), fs::path("/etc"));
}

TEST(ExplorerPayloads, DecodeWhatTheyEncode) {
    ExplorerDirectorySnapshot snapshot{
        "src",
        {{"lib", "src/lib", ExplorerNodePayload::Type::folder,
          std::vector<ExplorerNodePayload>{
              {"a", "src/lib/a", ExplorerNodePayload::Type::file, std::nullopt}}}},
        std::nullopt};
    auto encoded = snapshot.toJson();
    EXPECT_EQ(json::encode(encoded),
              R"({"path":"src","nodes":[{"name":"lib","path":"src\/lib","type":"folder","children":)"
              R"([{"name":"a","path":"src\/lib\/a","type":"file"}]}]})");
    EXPECT_EQ(ExplorerDirectorySnapshot::fromJson(encoded), snapshot);

    auto withError = *json::parse(R"({"path":"x","nodes":[],"error":"notFound","extra":1})");
    EXPECT_EQ(ExplorerDirectorySnapshot::fromJson(withError).error, "notFound");
    EXPECT_THROW(ExplorerNodePayload::fromJson(*json::parse(R"({"name":"a","path":"a","type":"link"})")),
                 DecodeError);
    EXPECT_THROW(ExplorerDirectorySnapshot::fromJson(*json::parse(R"({"path":"x"})")), DecodeError);
}

}  // namespace
}  // namespace pelko
