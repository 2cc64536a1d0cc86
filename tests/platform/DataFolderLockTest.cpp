#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <future>
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
    EXPECT_EQ(test::fileMode(dir / DataFolderLock::fileName), 0600u);

    // Another open of the lock file is what another process has.
    EXPECT_EQ(DataFolderLock::take(dir.path()).outcome(), Outcome::heldElsewhere);
    EXPECT_EQ(DataFolderLock::take(dir.path()).outcome(), Outcome::heldElsewhere);

    first.reset();
    EXPECT_EQ(DataFolderLock::take(dir.path()).outcome(), Outcome::held);
    EXPECT_TRUE(fs::is_regular_file(dir / DataFolderLock::fileName));
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

TEST(DataFolderLockTest, WhatCannotBeLockedIsToldAtOnceNeverWaitedOn) {
    test::TempDir dir;
    const auto withFolder = dir / "folder";
    fs::create_directories(withFolder / DataFolderLock::fileName);
    auto onFolder = DataFolderLock::take(withFolder);
    EXPECT_EQ(onFolder.outcome(), Outcome::unavailable);
    EXPECT_FALSE(onFolder.detail().empty());

    const auto missing = DataFolderLock::take(dir / "missing");
    EXPECT_EQ(missing.outcome(), Outcome::unavailable);
    EXPECT_FALSE(fs::exists(dir / "missing"));

    // A FIFO at the lock's name opens only once a writer comes; nobody comes.
    const auto withFifo = dir / "fifo";
    fs::create_directories(withFifo);
    const auto fifo = withFifo / DataFolderLock::fileName;
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto taking = std::async(std::launch::async, [&] { return DataFolderLock::take(withFifo).outcome(); });
    const bool answered = taking.wait_for(std::chrono::minutes(1)) == std::future_status::ready;
    if (!answered) ::close(::open(fifo.c_str(), O_WRONLY));  // lets the stuck open return
    ASSERT_TRUE(answered) << "taking the lock waits on a FIFO";
    EXPECT_EQ(taking.get(), Outcome::unavailable);
}

}  // namespace
}  // namespace pelko
