#pragma once
// ProcSelfResourceReader: ProcessResourceReading over /proc/self/statm (resident pages),
// /proc/self/stat (utime and stime in clock ticks) and sysconf (page size, ticks per second, online
// processors). Stateless; callable from any thread.
#include <string_view>

#include "dashboard/ProcessResourceReading.hpp"

namespace pelko {

class ProcSelfResourceReader final : public ProcessResourceReading {
  public:
    std::optional<std::uint64_t> residentBytes() const override;
    std::optional<CPUTimes> cpuTimes() const override;
    unsigned activeProcessorCount() const override;

    // The parsers behind the two readings, on the files' text.
    static std::optional<std::uint64_t> parseResidentPages(std::string_view statm);
    // utime and stime in clock ticks: fields 14 and 15, counted after the parenthesised command name,
    // which may itself hold spaces and parentheses.
    static std::optional<CPUTimes> parseTicks(std::string_view stat);
};

}  // namespace pelko
