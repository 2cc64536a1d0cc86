#pragma once
// DataFolderLock: keeps a data folder to one process, by an exclusive `flock` on the folder itself
// (an open descriptor of the directory), so that nothing put inside it (a directory, a FIFO or a link
// at any name) can keep the lock from being taken. The kernel drops the lock when the process ends,
// however it ends, so a crash never leaves the folder held; the descriptor is close-on-exec, so no
// child keeps it after the process is gone.
//
// Taking it blocks on nothing: the answer comes at once. Not copyable; the lock goes with the
// object. Any thread, one object per caller.
#include <filesystem>
#include <string>
#include <utility>

#include "platform/UniqueFd.hpp"

namespace pelko {

class DataFolderLock {
  public:
    enum class Outcome {
        held,           // this object holds the folder
        heldElsewhere,  // another open descriptor of the folder (another process) holds it
        unavailable,    // the folder cannot be opened or locked here (see `detail`)
    };

    // Tries to take the lock of `folder`, which must exist and is never changed.
    static DataFolderLock take(const std::filesystem::path& folder);

    Outcome outcome() const { return outcome_; }
    // The system's text for `unavailable`; empty otherwise.
    const std::string& detail() const { return detail_; }

  private:
    DataFolderLock(Outcome outcome, UniqueFd fd, std::string detail)
        : outcome_(outcome), fd_(std::move(fd)), detail_(std::move(detail)) {}

    Outcome outcome_;
    UniqueFd fd_;
    std::string detail_;
};

}  // namespace pelko
