#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <optional>

#include "platform/DataFolderLock.hpp"
#include "support/TestSupport.hpp"

namespace fs = std::filesystem;

namespace pelko {
namespace {

using Outcome = DataFolderLock::Outcome;

TEST(DataFolderLockTest, OneHolderAtATimeAndTheFolderIsFreeWhenItGoes) {
    test::TempDir dir;
    std::optional<DataFolderLock> first = DataFolderLock::take(dir.path());
    ASSERT_EQ(first->outcome(), Outcome::held) << first->detail();
    EXPECT_TRUE(fs::is_empty(dir.path())) << "taking the lock made a file";

    // Another open of the folder is what another process has.
    EXPECT_EQ(DataFolderLock::take(dir.path()).outcome(), Outcome::heldElsewhere);
    EXPECT_EQ(DataFolderLock::take(dir.path()).outcome(), Outcome::heldElsewhere);

    first.reset();
    EXPECT_EQ(DataFolderLock::take(dir.path()).outcome(), Outcome::held);
}

// A child started while the lock is held (a terminal's shell, git) may outlive the holder; it must not
// keep the folder locked after the holder is gone.
TEST(DataFolderLockTest, AChildStartedWhileItIsHeldDoesNotKeepIt) {
    test::TempDir dir;
    std::optional<DataFolderLock> lock = DataFolderLock::take(dir.path());
    ASSERT_EQ(lock->outcome(), Outcome::held);

    // Spawned as a library would, without closing what it does not know of.
    char program[] = "/bin/sleep";
    char seconds[] = "120";
    char* argv[] = {program, seconds, nullptr};
    char* envp[] = {nullptr};
    pid_t child = -1;
    ASSERT_EQ(::posix_spawn(&child, program, nullptr, nullptr, argv, envp), 0);

    lock.reset();
    EXPECT_EQ(DataFolderLock::take(dir.path()).outcome(), Outcome::held);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

// Fault mended: the lock was a file "instance.lock" in the folder, and a directory, a FIFO or a link
// put at that name left the folder unlocked, so a second instance ran beside the first.
TEST(DataFolderLockTest, NothingInTheFolderKeepsItFromBeingHeld) {
    test::TempDir dir;
    const auto folder = dir / "pelko";
    fs::create_directories(folder / "instance.lock");
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    fs::create_symlink(dir / "elsewhere", folder / "link");
    test::writeFile(folder / "config.json", "{}");
    for (const char* name : {"instance.lock", "fifo", "link", "config.json"}) {
        // Each in turn at the lock's old name.
        if (std::string(name) != "instance.lock") {
            fs::remove_all(folder / "instance.lock");
            fs::rename(folder / name, folder / "instance.lock");
        }
        const auto held = DataFolderLock::take(folder);
        EXPECT_EQ(held.outcome(), Outcome::held) << name << ": " << held.detail();
        EXPECT_EQ(DataFolderLock::take(folder).outcome(), Outcome::heldElsewhere) << name;
    }
}

TEST(DataFolderLockTest, WhatCannotBeLockedIsToldAtOnce) {
    test::TempDir dir;
    const auto missing = DataFolderLock::take(dir / "missing");
    EXPECT_EQ(missing.outcome(), Outcome::unavailable);
    EXPECT_FALSE(missing.detail().empty());
    EXPECT_FALSE(fs::exists(dir / "missing"));

    test::writeFile(dir / "file", "a regular file where the folder should be");
    EXPECT_EQ(DataFolderLock::take(dir / "file").outcome(), Outcome::unavailable);
}

}  // namespace
}  // namespace pelko
