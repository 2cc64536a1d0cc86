// Keyring lookup latency: the stored GitHub token read through GitAuthManager from gnome-keyring, as
// the bridge's keyring queue does at every configuration event. Reports the median and the 99th percentile of
// single lookups (a stored record, and no record at all).
//
// Runs against a gnome-keyring of its own: started without one, the program runs itself again inside
// `dbus-run-session` with an unlocked throw-away keyring, so the user's keyring is never touched.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.hpp"
#include "github/GitAuthManager.hpp"
#include "github/SystemKeychainStore.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* marker = "PELKO_BENCH_PRIVATE_KEYRING";

// Runs this program again on a private bus with its own keyring; returns only when that fails.
void reexecWithPrivateKeyring(char** argv) {
    const std::string folder = pelko::bench::temporaryFolder("pelko-bench-keyring").string();
    std::string script = std::string("printf pelko-bench | XDG_DATA_HOME='") + folder +
                         "' XDG_RUNTIME_DIR='" + folder +
                         "' gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null && "
                         "PELKO_BENCH_PRIVATE_KEYRING=1 \"$0\" \"$@\"; status=$?; rm -rf '" +
                         folder + "'; exit $status";
    std::vector<char*> args{const_cast<char*>("dbus-run-session"), const_cast<char*>("--"),
                            const_cast<char*>("sh"), const_cast<char*>("-c"), script.data()};
    for (char** arg = argv; *arg; ++arg) args.push_back(*arg);
    args.push_back(nullptr);
    ::execvp("dbus-run-session", args.data());
}

void recordPercentiles(benchmark::State& state, std::vector<double>& samples) {
    std::sort(samples.begin(), samples.end());
    state.counters["median_us"] = samples[samples.size() / 2];
    state.counters["p99_us"] = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
}

void lookups(benchmark::State& state, bool stored) {
    auto keychain = std::make_shared<pelko::SystemKeychainStore>();
    pelko::GitAuthManager manager(keychain);
    if (stored) {
        manager.saveToken({"gho_" + std::string(36, 'a'),
                           "ghr_" + std::string(76, 'b'),
                           pelko::Date::fromSeconds(1'900'000'000),
                           {"offline_access", "repo"},
                           "bearer",
                           "octocat",
                           "https://avatars.example/u/1"});
    } else {
        manager.deleteToken();
    }
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(state.max_iterations));
    for (auto _ : state) {
        auto start = Clock::now();
        auto record = manager.loadToken();
        auto elapsed = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        benchmark::DoNotOptimize(record);
        if (record.has_value() != stored) state.SkipWithError("unexpected lookup result");
        samples.push_back(elapsed);
    }
    recordPercentiles(state, samples);
    manager.deleteToken();
}

void BM_KeyringLookupStoredToken(benchmark::State& state) {
    lookups(state, true);
}
void BM_KeyringLookupNoToken(benchmark::State& state) {
    lookups(state, false);
}

BENCHMARK(BM_KeyringLookupStoredToken)->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeyringLookupNoToken)->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv(marker)) {
        reexecWithPrivateKeyring(argv);
        std::fprintf(stderr, "keyring_lookup: dbus-run-session and gnome-keyring-daemon are needed\n");
        return 1;
    }
    return pelko::bench::runBenchmarks(argc, argv) ? 0 : 1;
}
