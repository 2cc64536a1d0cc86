#pragma once
// DataFolderLock: keeps a data folder to one process, by an exclusive `flock` on the file
// "instance.lock" inside it. The kernel drops the lock when the process ends, however it ends, so a
// crash never leaves the folder held; the file is opened close-on-exec, so no child keeps it after
// the process is gone. The lock file itself is never removed (removing it would let two holders
// lock two different files of one name).
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
        heldElsewhere,  // another open lock file (another process) holds it
        unavailable,    // the lock file cannot be opened or locked here (see `detail`)
    };

    static constexpr const char* fileName = "instance.lock";

    // Tries to take the lock of `folder`, which must exist; creates the lock file (0600) if needed.
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
