// Outbound event throughput: terminal-output-sized events (4 KiB of base64) encoded into delivery
// scripts and evaluated by a recording web view, on the main thread.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.hpp"
#include "bridge/WebBridge.hpp"
#include "platform/Base64.hpp"
#include "platform/Uuid.hpp"

namespace {

using pelko::bench::CountingWebView;

std::vector<std::uint8_t> outputChunk() {
    // 3 KiB of raw bytes become 4 KiB of base64; every byte value appears, so "/" and "+" do too.
    std::vector<std::uint8_t> bytes(3072);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return bytes;
}

void loadedBridge(std::shared_ptr<pelko::WebBridge>& bridge, std::shared_ptr<CountingWebView>& webView) {
    bridge = pelko::WebBridge::create();
    webView = std::make_shared<CountingWebView>();
    bridge->attachWebView(webView);
    bridge->notifyWebViewDidFinishNavigation();
}

void BM_TerminalOutputEvents(benchmark::State& state) {
    std::shared_ptr<pelko::WebBridge> bridge;
    std::shared_ptr<CountingWebView> webView;
    loadedBridge(bridge, webView);
    const auto chunk = outputChunk();
    const std::string session = pelko::Uuid::random().string();
    for (auto _ : state) bridge->dispatchTerminalOutput(session, chunk);
    state.SetItemsProcessed(static_cast<std::int64_t>(webView->scripts));
    state.SetBytesProcessed(static_cast<std::int64_t>(webView->bytes));
    if (webView->scripts != static_cast<std::size_t>(state.iterations()))
        state.SkipWithError("events were lost");
}
BENCHMARK(BM_TerminalOutputEvents)->Iterations(100000)->Unit(benchmark::kMicrosecond);

void BM_DispatchEventWithBase64Payload(benchmark::State& state) {
    std::shared_ptr<pelko::WebBridge> bridge;
    std::shared_ptr<CountingWebView> webView;
    loadedBridge(bridge, webView);
    const std::string chunk = pelko::base64::encode(outputChunk());
    const std::string session = pelko::Uuid::random().string();
    for (auto _ : state) {
        pelko::Json payload = pelko::Json::object();
        payload["sessionId"] = session;
        payload["chunk"] = chunk;
        payload["encoding"] = "base64";
        bridge->dispatchEvent("terminal/output", std::move(payload));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(webView->scripts));
    if (webView->scripts != static_cast<std::size_t>(state.iterations()))
        state.SkipWithError("events were lost");
}
BENCHMARK(BM_DispatchEventWithBase64Payload)->Iterations(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
