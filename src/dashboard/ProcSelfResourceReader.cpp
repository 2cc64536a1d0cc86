#include "dashboard/ProcSelfResourceReader.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <limits>
#include <string>
#include <vector>

namespace pelko {

namespace {

std::optional<std::string> readSmallFile(const char* path) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buffer[1024];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

std::vector<std::string_view> fields(std::string_view text) {
    std::vector<std::string_view> result;
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t start = text.find_first_not_of(" \n", position);
        if (start == std::string_view::npos) break;
        std::size_t end = text.find_first_of(" \n", start);
        if (end == std::string_view::npos) end = text.size();
        result.push_back(text.substr(start, end - start));
        position = end;
    }
    return result;
}

std::optional<std::uint64_t> parseUnsigned(std::string_view text) {
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

long positiveSysconf(int name) {
    long value = ::sysconf(name);
    return value > 0 ? value : 0;
}

std::uint64_t saturatingMultiply(std::uint64_t a, std::uint64_t b) {
    std::uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<std::uint64_t>::max() : product;
}

}  // namespace

std::optional<std::uint64_t> ProcSelfResourceReader::parseResidentPages(std::string_view statm) {
    auto parts = fields(statm);
    if (parts.size() < 2) return std::nullopt;
    return parseUnsigned(parts[1]);
}

std::optional<ProcessResourceReading::CPUTimes> ProcSelfResourceReader::parseTicks(std::string_view stat) {
    std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos) return std::nullopt;
    // After the name: state (field 3) ... utime (14), stime (15).
    auto parts = fields(stat.substr(close + 1));
    if (parts.size() < 13) return std::nullopt;
    auto user = parseUnsigned(parts[11]);
    auto system = parseUnsigned(parts[12]);
    if (!user || !system) return std::nullopt;
    return CPUTimes{*user, *system};
}

std::optional<std::uint64_t> ProcSelfResourceReader::residentBytes() const {
    auto text = readSmallFile("/proc/self/statm");
    long pageSize = positiveSysconf(_SC_PAGESIZE);
    if (!text || pageSize == 0) return std::nullopt;
    auto pages = parseResidentPages(*text);
    if (!pages) return std::nullopt;
    return saturatingMultiply(*pages, static_cast<std::uint64_t>(pageSize));
}

std::optional<ProcessResourceReading::CPUTimes> ProcSelfResourceReader::cpuTimes() const {
    auto text = readSmallFile("/proc/self/stat");
    long ticksPerSecond = positiveSysconf(_SC_CLK_TCK);
    if (!text || ticksPerSecond == 0) return std::nullopt;
    auto ticks = parseTicks(*text);
    if (!ticks) return std::nullopt;
    auto micro = [ticksPerSecond](std::uint64_t value) {
        return saturatingMultiply(value, 1'000'000) / static_cast<std::uint64_t>(ticksPerSecond);
    };
    return CPUTimes{micro(ticks->user), micro(ticks->system)};
}

unsigned ProcSelfResourceReader::activeProcessorCount() const {
    long count = positiveSysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<unsigned>(count) : 1;
}

}  // namespace pelko
