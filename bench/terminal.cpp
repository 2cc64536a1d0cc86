// Terminal output throughput: 200 MB of `cat` output streamed through a whole terminal session
// (pseudo-terminal, reader, normaliser, terminal log, service) into a recording bridge, against the
// same file read straight from a bare pseudo-terminal in the same run. The session must reach at
// least 90% of the bare rate; the program prints both rates and fails when it does not.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "BenchSupport.hpp"
#include "config/ConfigStore.hpp"
#include "platform/MainQueue.hpp"
#include "platform/TextInputSourceNullBackend.hpp"
#include "platform/XdgFolders.hpp"
#include "terminal/PTYDriver.hpp"
#include "terminal/TerminalBridging.hpp"
#include "terminal/TerminalCoordinator.hpp"
#include "terminal/TerminalDebugDumpStore.hpp"
#include "terminal/TerminalInputModeSwitcher.hpp"
#include "terminal/TerminalLogger.hpp"
#include "terminal/TerminalService.hpp"

namespace fs = std::filesystem;
using namespace pelko;

namespace {

constexpr std::size_t payloadBytes = 200u * 1000 * 1000;

double bareRate = 0;
double sessionRate = 0;
// Of the per-round ratios of session to bare rate; rounds alternate, so each pair shares the load.
double medianShare = 0;

struct Workspace {
    fs::path folder;
    fs::path payload;
    fs::path script;

    Workspace() {
        folder = bench::temporaryFolder("pelko-bench-terminal");
        payload = folder / "payload.txt";
        bench::writeRandomLines(payload, payloadBytes);
        script = folder / "cat-payload.sh";
        bench::writeScript(script, "#!/bin/sh\nexec cat '" + payload.string() + "'\n");
    }
    ~Workspace() {
        std::error_code error;
        fs::remove_all(folder, error);
    }
};

Workspace& workspace() {
    static Workspace instance;
    return instance;
}

class CountingBridge final : public TerminalBridging {
  public:
    std::atomic<std::uint64_t> outputBytes{0};
    std::atomic<std::uint64_t> outputEvents{0};
    std::atomic<bool> exited{false};

    void dispatchTerminalSnapshot(const TerminalSnapshotPayload&) override {}
    void dispatchTerminalCreated(const TerminalCreatedPayload&) override {}
    void dispatchTerminalStatus(const std::string&, const std::string&,
                                std::optional<std::int32_t>) override {}
    void dispatchTerminalExit(const std::string&, std::int32_t) override { exited = true; }
    void dispatchTerminalError(const std::string&, const std::string&) override {}
    void dispatchTerminalOutput(const std::string&, std::span<const std::uint8_t> data) override {
        outputBytes += data.size();
        ++outputEvents;
    }
    void dispatchTerminalActivity(const std::string&) override {}
    void dispatchTerminalResize(const std::string&, int, int) override {}
};

// Bare and session runs alternate, so both see the same machine load.
void BM_SessionAgainstBarePseudoTerminal(benchmark::State& state) {
    auto& work = workspace();
    fs::path cache = work.folder / "cache";
    auto store = std::make_shared<ConfigStore>(work.folder / "data");
    store->update(false, [](AppConfig& config) {
        config.projects.clear();
        config.activeProjectID.reset();
        config.cliSessions.clear();
        config.enabledFeatures = {AppConfig::Feature::terminalV2};
    });
    auto driver = std::make_shared<PTYDriver>();
    auto coordinator = std::make_shared<TerminalCoordinator>(
        driver, std::make_shared<TerminalLogger>(cache / "pelko-terminal.log"),
        std::make_shared<TerminalDebugDumpStore>(cache / "terminal-dumps"));
    auto service = TerminalService::create(
        store, coordinator, nullptr,
        std::make_shared<TerminalInputModeSwitcher>(std::make_shared<TextInputSourceNullBackend>()));
    auto bridge = std::make_shared<CountingBridge>();
    service->attach(bridge);
    MainQueue::shared().drain();

    std::uint64_t bareBytes = 0;
    std::uint64_t sessionBytes = 0;
    double bareSeconds = 0;
    double sessionSeconds = 0;
    std::vector<double> shares;
    for (auto _ : state) {
        auto started = std::chrono::steady_clock::now();
        std::uint64_t bare = bench::readThroughBarePseudoTerminal(*driver, work.script, work.folder);
        double bareTime = bench::secondsSince(started);

        bridge->outputBytes = 0;
        bridge->exited = false;
        CLISessionConfig session{Uuid::random(), "bench", work.folder.string(), work.script.string(),
                                 std::nullopt};
        started = std::chrono::steady_clock::now();
        store->update(false, [&](AppConfig& config) { config.cliSessions = {session}; });
        MainQueue::shared().drainUntil([&] { return bridge->exited.load(); }, std::chrono::minutes(5));
        double sessionTime = bench::secondsSince(started);
        std::uint64_t streamed = bridge->outputBytes;

        bareBytes += bare;
        bareSeconds += bareTime;
        sessionBytes += streamed;
        sessionSeconds += sessionTime;
        shares.push_back((static_cast<double>(streamed) / sessionTime) /
                         (static_cast<double>(bare) / bareTime));
    }
    std::sort(shares.begin(), shares.end());
    medianShare = shares[shares.size() / 2];
    bareRate = static_cast<double>(bareBytes) / bareSeconds;
    sessionRate = static_cast<double>(sessionBytes) / sessionSeconds;
    state.SetBytesProcessed(static_cast<std::int64_t>(bareBytes + sessionBytes));
    state.counters["bare_MBps"] = bareRate / 1e6;
    state.counters["session_MBps"] = sessionRate / 1e6;
    state.counters["median_share"] = medianShare;
    state.counters["chunks"] = static_cast<double>(bridge->outputEvents) / state.iterations();
    store->update(false, [](AppConfig& config) { config.cliSessions.clear(); });
    MainQueue::shared().drain();
}

}  // namespace

BENCHMARK(BM_SessionAgainstBarePseudoTerminal)->Unit(benchmark::kMillisecond)->Iterations(7)->UseRealTime();

int main(int argc, char** argv) {
    if (!bench::runBenchmarks(argc, argv)) return 1;
    if (bareRate <= 0 || sessionRate <= 0) return 0;  // filtered run
    std::printf(
        "bare pseudo-terminal: %.1f MB/s\nterminal session:     %.1f MB/s (%.1f%% of bare overall, median "
        "per "
        "round %.1f%%, target 90%%)\n",
        bareRate / 1e6, sessionRate / 1e6, sessionRate / bareRate * 100, medianShare * 100);
    double share = medianShare;
    return share >= 0.9 ? 0 : 1;
}
