// A page that names projects nobody configured: 20,000 "git/status/detail" requests, each for its own
// random UUID, through the bridge into the real Git service and configuration store. Reports the
// threads (/proc/self/task) and resident memory before and after, the burst's time, then the next
// "app/config/request" round trip and a "git/refresh/barrier" round trip (a configured project with
// work in flight holds one sequence meanwhile, as a page at work would).
// Targets: no new threads, under 20 MB grown, both round trips under 100 ms. A second benchmark asks
// 1,000 configured projects at once and then removes them all: threads at the peak and after.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>

#include "BenchSupport.hpp"
#include "GitBenchSupport.hpp"
#include "bridge/WebBridge.hpp"
#include "config/ConfigStore.hpp"
#include "git/GitService.hpp"
#include "git/ProcessGitProcessRunner.hpp"
#include "platform/Json.hpp"
#include "platform/MainQueue.hpp"
#include "platform/Uuid.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

pelko::bench::ScratchFolder scratch("pelko-bench-git-unknown");

long threads() {
    return static_cast<long>(
        std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}

pelko::Json message(const std::string& type, pelko::Json payload) {
    pelko::Json body = pelko::Json::object();
    body["type"] = type;
    body["payload"] = std::move(payload);
    return body;
}

// Sends `body` and drains the main queue until the page has been handed `scripts` more; milliseconds.
double roundTrip(pelko::WebBridge& bridge, const pelko::bench::CountingWebView& webView,
                 const pelko::Json& body, std::size_t scripts = 1) {
    const std::size_t before = webView.scripts;
    const auto start = Clock::now();
    bridge.handle(body);
    pelko::MainQueue::shared().drainUntil([&] { return webView.scripts >= before + scripts; },
                                          std::chrono::minutes(1));
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The real Git service over `store`, behind a bridge whose page has loaded.
struct ConnectedBridge {
    std::shared_ptr<pelko::GitService> service;
    std::shared_ptr<pelko::WebBridge> bridge;
    std::shared_ptr<pelko::bench::CountingWebView> webView;
};

ConnectedBridge connectedBridge(const std::shared_ptr<pelko::ConfigStore>& store) {
    ConnectedBridge connected{
        std::make_shared<pelko::GitService>(
            store, nullptr, nullptr, std::make_shared<pelko::ProcessGitProcessRunner>(), nullptr,
            pelko::GitService::Options{.environment = pelko::bench::isolatedGitEnvironment()}),
        pelko::WebBridge::create(), std::make_shared<pelko::bench::CountingWebView>()};
    connected.bridge->configure({.gitService = connected.service, .configStore = store});
    connected.bridge->attachWebView(connected.webView);
    connected.bridge->notifyWebViewDidFinishNavigation();
    pelko::MainQueue::shared().drainUntil([] { return false; }, std::chrono::milliseconds(50));
    return connected;
}

void BM_StatusDetailForUnknownProjects(benchmark::State& state) {
    auto store = std::make_shared<pelko::ConfigStore>(scratch.path() / "data");
    fs::path repository = scratch.path() / "known";
    fs::create_directories(repository);
    pelko::bench::git(repository, {"init", "-q", "-b", "main"});
    pelko::bench::git(repository, {"commit", "-q", "--allow-empty", "-m", "first"});
    const pelko::Uuid known = pelko::Uuid::random();
    store->update(false, [&](pelko::AppConfig& config) {
        config.projects = {pelko::ProjectMetadata{known, "known", repository.string(), std::nullopt, {}}};
    });
    auto [service, bridge, webView] = connectedBridge(store);
    const double configBefore =
        roundTrip(*bridge, *webView, message("app/config/request", pelko::Json::object()));
    const double barrierBefore =
        roundTrip(*bridge, *webView,
                  message("git/refresh/barrier",
                          {{"projectId", pelko::Uuid::random().string()}, {"requestId", "before"}}));

    constexpr int requests = 20'000;
    const long threadsBefore = threads();
    const long rssBefore = pelko::bench::statusKiB("/proc/self/status", "VmRSS");
    double burstMs = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        for (int i = 0; i < requests; ++i) {
            bridge->handle(message("git/status/detail", {{"projectId", pelko::Uuid::random().string()}}));
        }
        burstMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        state.SetIterationTime(burstMs / 1000.0);
    }
    const long threadsAfter = threads();
    const long rssAfter = pelko::bench::statusKiB("/proc/self/status", "VmRSS");
    const double configAfter =
        roundTrip(*bridge, *webView, message("app/config/request", pelko::Json::object()));
    // The known project's status is in flight while the barrier is asked for: the barrier's answer comes
    // after that status.
    bridge->handle(message("git/status", {{"projectId", known.string()}}));
    const double barrierAfter =
        roundTrip(*bridge, *webView,
                  message("git/refresh/barrier",
                          {{"projectId", pelko::Uuid::random().string()}, {"requestId", "after"}}),
                  2);
    service->shutdown();

    state.counters["threads_before"] = static_cast<double>(threadsBefore);
    state.counters["threads_after"] = static_cast<double>(threadsAfter);
    state.counters["rss_growth_MB"] = static_cast<double>(rssAfter - rssBefore) / 1024.0;
    state.counters["burst_ms"] = burstMs;
    state.counters["config_ms_before"] = configBefore;
    state.counters["config_ms_after"] = configAfter;
    state.counters["barrier_ms_before"] = barrierBefore;
    state.counters["barrier_ms_after"] = barrierAfter;
    state.counters["sequences_left"] = static_cast<double>(service->projectsWithWork());
}
BENCHMARK(BM_StatusDetailForUnknownProjects)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// 1,000 configured projects each asked for its status at once, then all removed from the configuration:
// threads at the peak and once the idle workers have ended, and the sequences left.
void BM_ThousandProjectsThenRemoved(benchmark::State& state) {
    auto store = std::make_shared<pelko::ConfigStore>(scratch.path() / "data-thousand");
    fs::path repository = scratch.path() / "shared";
    fs::create_directories(repository);
    pelko::bench::git(repository, {"init", "-q", "-b", "main"});
    pelko::bench::git(repository, {"commit", "-q", "--allow-empty", "-m", "first"});
    std::vector<pelko::Uuid> ids;
    store->update(false, [&](pelko::AppConfig& config) {
        config.projects.clear();
        for (int i = 0; i < 1000; ++i) {
            ids.push_back(pelko::Uuid::random());
            config.projects.push_back(
                {ids.back(), "p" + std::to_string(i), repository.string(), std::nullopt, {}});
        }
    });
    auto [service, bridge, webView] = connectedBridge(store);

    const long threadsBefore = threads();
    long peak = threadsBefore;
    double answeredMs = 0;
    double idleMs = 0;
    for (auto _ : state) {
        const std::size_t before = webView->scripts;
        const auto start = Clock::now();
        for (const auto& id : ids) bridge->handle(message("git/status", {{"projectId", id.string()}}));
        pelko::MainQueue::shared().drainUntil(
            [&] {
                peak = std::max(peak, threads());
                return webView->scripts >= before + ids.size();
            },
            std::chrono::minutes(5));
        answeredMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        state.SetIterationTime(answeredMs / 1000.0);
        store->update(false, [](pelko::AppConfig& config) { config.projects.clear(); });
        const auto idleStart = Clock::now();
        pelko::MainQueue::shared().drainUntil([&] { return threads() <= threadsBefore + 2; },
                                              std::chrono::minutes(1));
        idleMs = std::chrono::duration<double, std::milli>(Clock::now() - idleStart).count();
    }
    state.counters["threads_before"] = static_cast<double>(threadsBefore);
    state.counters["threads_peak"] = static_cast<double>(peak);
    state.counters["threads_after_idle"] = static_cast<double>(threads());
    state.counters["idle_end_ms"] = idleMs;
    state.counters["sequences_left"] = static_cast<double>(service->projectsWithWork());
    service->shutdown();
}
BENCHMARK(BM_ThousandProjectsThenRemoved)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    return pelko::bench::runBenchmarks(argc, argv) ? 0 : 1;
}
