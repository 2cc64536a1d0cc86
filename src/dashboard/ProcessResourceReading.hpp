#pragma once
// ProcessResourceReading: the process's own resident memory and CPU times, and how many processors
// are online. Each call reads afresh; a reading that fails yields nothing and is never guessed.
// Callable from any thread.
#include <cstdint>
#include <optional>

namespace pelko {

class ProcessResourceReading {
  public:
    // User and system CPU time of the process, in microseconds.
    struct CPUTimes {
        std::uint64_t user = 0;
        std::uint64_t system = 0;
    };

    virtual ~ProcessResourceReading() = default;
    virtual std::optional<std::uint64_t> residentBytes() const = 0;
    virtual std::optional<CPUTimes> cpuTimes() const = 0;
    // At least 1.
    virtual unsigned activeProcessorCount() const = 0;
};

}  // namespace pelko
