#pragma once
// FolderLinkSwapper: on a thread of its own, exchanges a folder and a symbolic link that leads out of
// the project (renameat2 with RENAME_EXCHANGE) as fast as it can, so tests can race path checks
// against their use. The names are back as they were once the swapper is destroyed.
#include <fcntl.h>
#include <stdio.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

namespace pelko::test {

class FolderLinkSwapper {
  public:
    FolderLinkSwapper(std::filesystem::path folder, std::filesystem::path link)
        : folder_(std::move(folder)), link_(std::move(link)), thread_([this] { run(); }) {}
    ~FolderLinkSwapper() {
        stop_ = true;
        thread_.join();
    }
    FolderLinkSwapper(const FolderLinkSwapper&) = delete;
    FolderLinkSwapper& operator=(const FolderLinkSwapper&) = delete;

    // Whether the first exchange happened within a generous deadline.
    bool started() const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (swaps_ == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        return swaps_ > 0;
    }

  private:
    void run() {
        while (!stop_) {
            if (renameat2(AT_FDCWD, folder_.c_str(), AT_FDCWD, link_.c_str(), RENAME_EXCHANGE) == 0) ++swaps_;
        }
        if (swaps_ % 2 == 1) renameat2(AT_FDCWD, folder_.c_str(), AT_FDCWD, link_.c_str(), RENAME_EXCHANGE);
    }

    std::filesystem::path folder_;
    std::filesystem::path link_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> swaps_{0};
    std::thread thread_;
};

}  // namespace pelko::test
