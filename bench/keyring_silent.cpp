// The page's "app/config/request" while the keyring takes every call and never answers: how long the
// answer takes (the target is under 250 ms), and how long an event sent right after it waits behind
// the sign-in status that the keyring holds up (the bridge gives that place up after 200 ms).
//
// Runs on a private bus of its own (GLib's test bus, which starts no services) with a Secret Service of
// its own that drops every call, so the user's keyring is never touched.
#include <benchmark/benchmark.h>
#include <gio/gio.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.hpp"
#include "bridge/WebBridge.hpp"
#include "config/AppConfig.hpp"
#include "github/GitAuthManager.hpp"
#include "github/SystemKeychainStore.hpp"
#include "platform/MainQueue.hpp"
#include "support/SilentSecretService.hpp"

namespace {

using Clock = std::chrono::steady_clock;

using pelko::test::SilentSecretService;

// Records when each script arrives, with its escapes taken out (so "app/config" reads as written).
class TimingWebView : public pelko::ScriptEvaluating {
  public:
    void evaluateScript(const std::string& script) override {
        std::string plain;
        std::copy_if(script.begin(), script.end(), std::back_inserter(plain),
                     [](char c) { return c != '\\'; });
        arrivals.push_back({std::move(plain), Clock::now()});
    }
    struct Arrival {
        std::string script;
        Clock::time_point at;
    };
    std::vector<Arrival> arrivals;
};

double percentile(std::vector<double> samples, double fraction) {
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(samples.size() * fraction))];
}

void BM_ConfigRequestWithSilentKeyring(benchmark::State& state) {
    SilentSecretService silent;
    if (!silent.owned) {
        state.SkipWithError("could not own the Secret Service's name");
        return;
    }
    auto bridge = pelko::WebBridge::create();
    auto page = std::make_shared<TimingWebView>();
    bridge->attachWebView(page);
    bridge->notifyWebViewDidFinishNavigation();
    bridge->configure({.authManager = std::make_shared<pelko::GitAuthManager>(
                           std::make_shared<pelko::SystemKeychainStore>())});
    bridge->updateConfigSnapshot(pelko::AppConfig::builtInDefault("/tmp"));
    pelko::MainQueue::shared().drainUntil([&] { return !page->arrivals.empty(); }, std::chrono::seconds(30));

    std::vector<double> answers, following;
    for (auto _ : state) {
        page->arrivals.clear();
        auto asked = Clock::now();
        pelko::Json request = pelko::Json::object();
        request["type"] = "app/config/request";
        bridge->handle(request);
        bridge->dispatchEvent("bench/after", pelko::Json::object());
        auto arrived = [&](const char* type) {
            for (const auto& arrival : page->arrivals)
                if (arrival.script.find(type) != std::string::npos) return true;
            return false;
        };
        pelko::MainQueue::shared().drainUntil([&] { return arrived("bench/after"); },
                                              std::chrono::seconds(30));
        for (const auto& arrival : page->arrivals) {
            double ms = std::chrono::duration<double, std::milli>(arrival.at - asked).count();
            if (arrival.script.find("\"app/config\"") != std::string::npos) answers.push_back(ms);
            if (arrival.script.find("bench/after") != std::string::npos) following.push_back(ms);
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - asked).count());
    }
    if (answers.size() != static_cast<std::size_t>(state.iterations()) ||
        following.size() != answers.size()) {
        state.SkipWithError("an answer did not arrive");
    } else {
        state.counters["answer_median_ms"] = percentile(answers, 0.5);
        state.counters["answer_max_ms"] = percentile(answers, 1.0);
        state.counters["following_median_ms"] = percentile(following, 0.5);
        state.counters["following_max_ms"] = percentile(following, 1.0);
    }
    // The held keyring calls end with the service, so the bridge's queue drains at once.
    silent.leave();
}
BENCHMARK(BM_ConfigRequestWithSilentKeyring)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // Points this process's session bus at the private one before anything connects.
    GTestDBus* bus = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(bus);
    bool ran = pelko::bench::runBenchmarks(argc, argv);
    g_test_dbus_down(bus);
    g_object_unref(bus);
    return ran ? 0 : 1;
}
