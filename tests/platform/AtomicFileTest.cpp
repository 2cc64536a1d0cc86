#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/AtomicFile.hpp"
#include "platform/Date.hpp"
#include "platform/Json.hpp"
#include "support/TestSupport.hpp"

namespace fs = std::filesystem;

namespace pelko {
namespace {
std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(AtomicFileTest, CreatesParentsAndNewFileWithRequestedModes) {
    test::TempDir dir;
    fs::path target = dir / "a/b/state.json";
    ASSERT_FALSE(writeFileAtomically(target, "{}", {.newFileMode = 0600, .privateFolder = true}));
    EXPECT_EQ(test::readFile(target), "{}");
    EXPECT_EQ(test::fileMode(target), 0600u);
    EXPECT_EQ(test::fileMode(dir / "a"), 0700u);
    EXPECT_EQ(test::fileMode(dir / "a/b"), 0700u);
    EXPECT_EQ(namesIn(dir / "a/b"), std::vector<std::string>{"state.json"});

    EXPECT_EQ(writeFileAtomically(dir / "missing/x", "1", {.createParents = false}),
              std::make_error_code(std::errc::no_such_file_or_directory));
}

TEST(AtomicFileTest, ExistingFileKeepsItsMode) {
    test::TempDir dir;
    fs::path target = dir / "config.json";
    test::writeFile(target, "old");
    chmod(target.c_str(), 0640);
    ASSERT_FALSE(writeFileAtomically(target, "new contents", {.newFileMode = 0600}));
    EXPECT_EQ(test::readFile(target), "new contents");
    EXPECT_EQ(test::fileMode(target), 0640u);
}

TEST(AtomicFileTest, WritesThroughASymbolicLink) {
    test::TempDir dir;
    test::writeFile(dir / "real/config.json", "old");
    fs::create_symlink(dir / "real/config.json", dir / "link.json");
    ASSERT_FALSE(writeFileAtomically(dir / "link.json", "new"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.json"));
    EXPECT_EQ(test::readFile(dir / "real/config.json"), "new");
}

TEST(AtomicFileTest, FailuresLeaveNoTemporaryFile) {
    test::TempDir dir;
    // A regular file where a folder is expected.
    test::writeFile(dir / "blocker", "x");
    EXPECT_TRUE(writeFileAtomically(dir / "blocker/state.json", "{}"));
    EXPECT_TRUE(writeFileAtomically(dir / "blocker/state.json", "{}", {.createParents = false}));
    // The temporary file is written, then the rename over a folder fails.
    fs::create_directory(dir / "occupied");
    EXPECT_TRUE(writeFileAtomically(dir / "occupied", "{}"));
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"blocker", "occupied"}));
    EXPECT_TRUE(fs::is_empty(dir / "occupied"));
}

// Fault mended: new files were forced to 0644 whatever the umask.
TEST(AtomicFileTest, NewFilesTakeTheUmaskExistingFilesKeepTheirMode) {
    test::TempDir dir;
    const mode_t saved = umask(077);
    const auto created = writeFileAtomically(dir / "private.json", "{}");
    const auto createdAt = writeFileAtomically(dir / "other.json", "{}", {.newFileMode = 0640});
    umask(saved);
    ASSERT_FALSE(created);
    ASSERT_FALSE(createdAt);
    EXPECT_EQ(test::fileMode(dir / "private.json"), 0600u);
    EXPECT_EQ(test::fileMode(dir / "other.json"), 0600u);

    chmod((dir / "private.json").c_str(), 0664);
    const mode_t strict = umask(077);
    const auto rewritten = writeFileAtomically(dir / "private.json", "{\"a\":1}");
    umask(strict);
    ASSERT_FALSE(rewritten);
    EXPECT_EQ(test::fileMode(dir / "private.json"), 0664u);
}

// Fault mended: the temporary file was made with the default mode and got the target's only after it
// was filled, so another user could open a private file's new content while it was written, and a
// writer killed midway left it behind readable by all.
TEST(AtomicFileTest, TheTemporaryFileOfAPrivateFileIsPrivateFromTheStart) {
    test::TempDir dir;
    const fs::path target = dir / "key.pem";
    test::writeFile(target, "old");
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    const std::string prefix = ".key.pem.tmp-";

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        umask(022);
        // Large enough that each write keeps its temporary file around long enough to be seen.
        const std::string contents(16 << 20, 's');
        for (;;)
            if (writeFileAtomically(target, contents)) _exit(1);
    }
    // Every temporary file seen while the writer runs, and whatever the kill leaves, must be 0600.
    std::vector<mode_t> seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (seen.size() < 20 && std::chrono::steady_clock::now() < deadline) {
        for (const auto& name : namesIn(dir.path())) {
            struct stat info {};
            if (name.starts_with(prefix) && lstat((dir / name).c_str(), &info) == 0)
                seen.push_back(info.st_mode & 07777);
        }
    }
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    for (const auto& name : namesIn(dir.path())) {
        if (name.starts_with(prefix)) seen.push_back(test::fileMode(dir / name));
    }
    ASSERT_FALSE(seen.empty()) << "no temporary file was seen within a minute";
    const auto exposed = std::count_if(seen.begin(), seen.end(), [](mode_t mode) { return mode != 0600; });
    EXPECT_EQ(exposed, 0) << "of " << seen.size() << " seen, the first with mode " << std::oct << seen[0];
    EXPECT_EQ(test::fileMode(target), 0600u);
}

// The file's access ACL as getfacl prints it (numeric ids, no header); nothing when it cannot be read.
std::optional<std::string> aclOf(const fs::path& file) {
    return test::commandOutput("getfacl -cn -- '" + file.string() + "'");
}

bool setAcl(const std::string& arguments, const fs::path& file) {
    return test::commandOutput("setfacl " + arguments + " -- '" + file.string() + "'").has_value();
}

// Fault mended: a new file was made private and then given 0666 less the umask, so the folder's
// default ACL never applied (others could read what the folder keeps from them, and the users it
// names lost write); and a replaced file lost its access ACL, its mode's group bits turning from the
// mask into the group's own.
TEST(AtomicFileTest, SavedFilesHaveTheAccessAPlainCreateGivesOrTheReplacedFileHad) {
    test::TempDir dir;
    if (!aclOf(dir.path())) GTEST_SKIP() << "needs getfacl and setfacl (package acl)";
    const fs::path folder = dir / "shared";
    fs::create_directories(folder);
    if (!setAcl("-d -m u:nobody:rw,g::rw,o::-", folder))
        GTEST_SKIP() << "the temporary folder's file system keeps no ACLs";

    for (const mode_t mask : {022, 077}) {
        SCOPED_TRACE(testing::Message() << "umask " << std::oct << mask);
        const fs::path plain = folder / "plain.txt";
        const fs::path saved = folder / "saved.txt";
        const mode_t previous = umask(mask);
        const bool created =
            ::close(::open(plain.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666)) == 0;
        const auto written = writeFileAtomically(saved, "new");
        umask(previous);
        ASSERT_TRUE(created);
        ASSERT_FALSE(written) << written.message();
        ASSERT_TRUE(aclOf(plain));
        EXPECT_NE(aclOf(plain)->find("user:65534:rw-"), std::string::npos) << *aclOf(plain);
        EXPECT_EQ(aclOf(saved), aclOf(plain));
        EXPECT_EQ(test::fileMode(saved), test::fileMode(plain));

        // Replaced, in a folder with a default ACL and in one without: the file's own ACL, or none.
        const fs::path withAcl = dir / "named.txt";
        const fs::path withoutAcl = folder / "own.txt";
        test::writeFile(withAcl, "old");
        test::writeFile(withoutAcl, "old");
        ASSERT_TRUE(setAcl("-m u:nobody:rw,g::r,m::rw,o::-", withAcl));
        ASSERT_TRUE(setAcl("-b", withoutAcl));
        ASSERT_EQ(chmod(withoutAcl.c_str(), 0640), 0);
        const auto before = std::pair(aclOf(withAcl), aclOf(withoutAcl));
        umask(mask);
        const auto replacedWith = writeFileAtomically(withAcl, "new");
        const auto replacedWithout = writeFileAtomically(withoutAcl, "new");
        umask(previous);
        ASSERT_FALSE(replacedWith) << replacedWith.message();
        ASSERT_FALSE(replacedWithout) << replacedWithout.message();
        EXPECT_EQ(test::readFile(withAcl), "new");
        EXPECT_EQ(aclOf(withAcl), before.first);
        EXPECT_EQ(test::fileMode(withAcl), 0660u);
        EXPECT_EQ(aclOf(withoutAcl), before.second);
        EXPECT_EQ(test::fileMode(withoutAcl), 0640u);
        for (const auto& file : {plain, saved, withAcl, withoutAcl}) fs::remove(file);
    }
}

// Without /proc (a chroot, a sandbox) the ACL is read through the file itself: replacing a file with
// one still works and keeps it.
TEST(AtomicFileTest, AReplacedFileKeepsItsAclWithoutProc) {
    test::TempDir dir;
    const fs::path file = dir / "named.txt";
    test::writeFile(file, "old");
    if (!setAcl("-m u:nobody:rw,g::r,m::rw,o::-", file)) GTEST_SKIP() << "no setfacl, or no ACLs here";
    const auto before = aclOf(file);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(60);
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            umount2("/proc", MNT_DETACH) != 0)
            _exit(2);
        _exit(access("/proc/self", F_OK) == 0 ? 2 : writeFileAtomically(file, "new") ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot hide /proc from a child here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(test::readFile(file), "new");
    EXPECT_EQ(aclOf(file), before);
}

// Fault mended: a set-id file of another user's, replaced, became ours with its set-id bits, a
// program running as us that its group may rewrite.
TEST(AtomicFileTest, SetIdBitsStayOnlyWithTheOwnerAndGroupTheyName) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to give files to another user";
    test::TempDir dir;
    const fs::path theirs = dir / "theirs";
    const fs::path ours = dir / "ours";
    test::writeFile(theirs, "old");
    test::writeFile(ours, "old");
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(theirs.c_str(), 06775), 0);
    ASSERT_EQ(chmod(ours.c_str(), 06755), 0);
    ASSERT_FALSE(writeFileAtomically(theirs, "new"));
    ASSERT_FALSE(writeFileAtomically(ours, "new"));
    EXPECT_EQ(test::fileMode(theirs), 0775u);
    EXPECT_EQ(test::fileMode(ours), 06755u);
}

// Fault mended: "." + name + ".tmp-XXXXXX" passed NAME_MAX for names of 244 bytes and more.
TEST(AtomicFileTest, LongestNamesCanBeWritten) {
    test::TempDir dir;
    for (std::size_t length : {243u, 244u, 255u}) {
        const std::string name(length, 'n');
        EXPECT_FALSE(writeFileAtomically(dir / name, "x")) << length;
        EXPECT_FALSE(writeFileAtomically(dir / name, "y")) << length;
        EXPECT_EQ(test::readFile(dir / name), "y");
    }
    EXPECT_EQ(namesIn(dir.path()).size(), 3u);
}

// Fault mended: temporaries of writers killed midway stayed for ever.
TEST(AtomicFileTest, StaleTemporariesOfOneTargetAreSwept) {
    test::TempDir dir;
    test::writeFile(dir / "config.json", "{}");
    for (const char* name : {".config.json.tmp-Ab12Cd", ".config.json.tmp-zzzzzz", ".config.json.tmp-young1",
                             ".config.json.tmp-toolong", ".projects.db.tmp-Ab12Cd", "notes.tmp-Ab12Cd"})
        test::writeFile(dir / name, "partial");
    const timespec old[2] = {{0, UTIME_OMIT}, {time(nullptr) - 3600, 0}};
    for (const char* name : {".config.json.tmp-Ab12Cd", ".config.json.tmp-zzzzzz", ".config.json.tmp-toolong",
                             ".projects.db.tmp-Ab12Cd", "notes.tmp-Ab12Cd"})
        ASSERT_EQ(utimensat(AT_FDCWD, (dir / name).c_str(), old, 0), 0);

    EXPECT_EQ(removeStaleTemporaries(dir.path(), "config.json"), 2u);
    EXPECT_EQ(namesIn(dir.path()),
              (std::vector<std::string>{".config.json.tmp-toolong", ".config.json.tmp-young1",
                                        ".projects.db.tmp-Ab12Cd", "config.json", "notes.tmp-Ab12Cd"}));
    EXPECT_EQ(removeStaleTemporaries(dir / "missing", "config.json", std::chrono::seconds(0)), 0u);
}

// The copy of an unreadable file replaces nothing, not even copies of the same second.
TEST(AtomicFileTest, UnreadableFilesAreKeptUnderNamesOfTheirOwn) {
    test::TempDir dir;
    const auto now = Date::now().seconds();
    for (auto second = now; second <= now + 30; ++second) {
        std::string stamp;
        for (char c : Date::fromSeconds(second).isoSeconds())
            if (c != '-' && c != ':') stamp.push_back(c);
        test::writeFile(dir / ("projects.db.corrupt-" + stamp), "earlier");
    }
    fs::path kept;
    test::writeFile(dir / "projects.db", "broken");
    ASSERT_FALSE(keepUnreadableFile(dir / "projects.db", kept));
    EXPECT_TRUE(kept.filename().string().ends_with("Z-2")) << kept;
    EXPECT_EQ(test::readFile(kept), "broken");
    EXPECT_EQ(namesIn(dir.path()).size(), 32u);  // the 31 earlier copies and this one
    EXPECT_FALSE(fs::exists(dir / "projects.db"));
}

TEST(AtomicFileTest, ReadWholeFile) {
    test::TempDir dir;
    std::string contents(200000, 'z');
    contents[7] = '\0';
    ASSERT_FALSE(writeFileAtomically(dir / "big", contents));
    std::string read = "unchanged";
    EXPECT_FALSE(readWholeFile(dir / "big", read));
    EXPECT_EQ(read, contents);
    read = "unchanged";
    EXPECT_EQ(readWholeFile(dir / "none", read), std::make_error_code(std::errc::no_such_file_or_directory));
    EXPECT_TRUE(readWholeFile(dir.path(), read));
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_TRUE(readWholeFile(dir / "fifo", read));  // refused at once, not waiting for a writer
    EXPECT_EQ(read, "unchanged");
}

// A writer killed at any moment leaves the target either old or new, never torn.
TEST(AtomicFileTest, KilledWriterNeverLeavesATornFile) {
    test::TempDir dir;
    fs::path target = dir / "state.json";
    for (int round = 0; round < 50; ++round) {
        int written[2];
        ASSERT_EQ(pipe(written), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(written[0]);
            // Encoded up front, so the loop spends its time inside the atomic write.
            std::string texts[2];
            for (int i = 0; i < 2; ++i) {
                texts[i] = json::encode(
                    {{"round", round}, {"write", i}, {"payload", std::string(round * 4000, 'p')}});
            }
            for (int i = 0;; ++i) {
                if (writeFileAtomically(target, texts[i % 2])) _exit(1);
                if (write(written[1], "w", 1) != 1) _exit(1);
            }
        }
        close(written[1]);
        // Kill after a varying number of completed writes, so the kill lands at varying stages.
        int wanted = 1 + round % 7;
        char byte;
        for (int count = 0; count < wanted; ++count) ASSERT_EQ(read(written[0], &byte, 1), 1);
        // Not a wait for anything: a varying offset into the next write, so kills land mid-write.
        std::this_thread::sleep_for(std::chrono::microseconds(round * 97 % 900));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status));
        close(written[0]);

        std::string contents;
        ASSERT_FALSE(readWholeFile(target, contents));
        auto parsed = json::parse(contents);
        ASSERT_TRUE(parsed) << "round " << round;
        EXPECT_EQ(json::optInteger(*parsed, "round"), round);
        auto names = namesIn(dir.path());
        EXPECT_LE(names.size(), 2u);  // the target, and at most the one temporary file being written
        for (const auto& name : names) {
            if (name != "state.json") fs::remove(dir / name);
        }
    }
}

}  // namespace
}  // namespace pelko
