// Peak resident memory of one "project/file/open" with allowLargeFile, against the file's size: the
// page message goes through the bridge, the file queue reads the file and builds the content event,
// and the main thread delivers the script to a web view that only counts it. Each run is a fresh
// child process whose peak is reset (clear_refs) just before the request; the counters report the
// file's size, the rise of the peak above the resident memory before the request, and their ratio.
// Kinds: ASCII text with line breaks, UTF-8 text with Japanese, Latin-1 text (converted to UTF-8)
// and a PNG image (sent as base64). Target: a ratio below 3.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "BenchSupport.hpp"
#include "bridge/WebBridge.hpp"
#include "config/AppConfig.hpp"
#include "config/ConfigStore.hpp"
#include "platform/MainQueue.hpp"
#include "platform/Uuid.hpp"

namespace fs = std::filesystem;

namespace {

enum Kind { asciiText, utf8Text, latin1Text, pngImage };

void writeSample(const fs::path& file, Kind kind, std::size_t size) {
    // One MiB of whole lines (padded with spaces), so a text of whole MiB stays valid UTF-8.
    std::string block;
    std::string line;
    switch (kind) {
        case asciiText:
            line = "const value = compute(input, \"quoted\") / 2; // a line of source code\n";
            break;
        case utf8Text:
            line = "設定を読み込めませんでした: line of mixed text\n";
            break;
        case latin1Text:
            line = "caf\xe9 cr\xe8me br\xfbl\xe9" "e \xbd price\n";
            break;
        case pngImage:
            for (int i = 0; i < 251; ++i) line.push_back(static_cast<char>(i * 37 + 11));
            break;
    }
    while (block.size() + line.size() <= (1 << 20)) block += line;
    block.resize(1 << 20, ' ');
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    for (std::size_t written = 0; written < size;) {
        std::size_t count = std::min(block.size(), size - written);
        if (::write(fd, block.data(), count) != static_cast<ssize_t>(count)) std::abort();
        written += count;
    }
    ::close(fd);
}

struct Result {
    double peakRiseMiB = 0;
    double scriptMiB = 0;
};

// In a child process: one request, and the rise of the peak resident memory it caused.
Result measureInChild(Kind kind, std::size_t size) {
    const fs::path folder = pelko::bench::temporaryFolder("pelko-bench-read");
    const fs::path root = folder / "project";
    fs::create_directories(root);
    const std::string name = kind == pngImage ? "sample.png" : "sample.txt";
    writeSample(root / name, kind, size);

    Result result;
    {
        auto store = std::make_shared<pelko::ConfigStore>(folder / "data");
        pelko::ProjectMetadata project{pelko::Uuid::random(), "Bench", root.string(), std::nullopt, {}};
        store->update(false, [&](pelko::AppConfig& config) {
            config.projects = {project};
            config.cliSessions.clear();
        });
        auto bridge = pelko::WebBridge::create();
        auto webView = std::make_shared<pelko::bench::CountingWebView>();
        bridge->attachWebView(webView);
        bridge->notifyWebViewDidFinishNavigation();
        bridge->configure({.configStore = store});
        pelko::MainQueue::shared().drain();
        webView->scripts = 0;

        {
            std::ofstream clear("/proc/self/clear_refs");
            clear << "5";  // resets the peak resident size to the current one
        }
        const long before = pelko::bench::statusKiB("/proc/self/status", "VmRSS");
        pelko::Json message = {
            {"type", "project/file/open"},
            {"payload", {{"projectId", project.id.string()}, {"path", name}, {"allowLargeFile", true}}}};
        bridge->handle(message);
        pelko::MainQueue::shared().drainUntil([&] { return webView->scripts == 1; }, std::chrono::minutes(5));
        if (webView->scripts != 1) std::abort();
        result.peakRiseMiB =
            static_cast<double>(pelko::bench::statusKiB("/proc/self/status", "VmHWM") - before) / 1024.0;
        result.scriptMiB = static_cast<double>(webView->bytes) / (1 << 20);
    }
    fs::remove_all(folder);
    return result;
}

void BM_FileReadPeakMemory(benchmark::State& state, Kind kind) {
    const auto size = static_cast<std::size_t>(state.range(0)) << 20;
    Result result;
    for (auto _ : state) {
        int channel[2];
        if (pipe(channel) != 0) std::abort();
        pid_t child = fork();
        if (child == 0) {
            close(channel[0]);
            Result measured = measureInChild(kind, size);
            if (write(channel[1], &measured, sizeof measured) != sizeof measured) _exit(1);
            _exit(0);
        }
        close(channel[1]);
        ssize_t got = read(channel[0], &result, sizeof result);
        close(channel[0]);
        int status = 0;
        waitpid(child, &status, 0);
        if (got != sizeof result || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the measuring child failed");
            return;
        }
    }
    const double fileMiB = static_cast<double>(size) / (1 << 20);
    state.counters["fileMiB"] = fileMiB;
    state.counters["scriptMiB"] = result.scriptMiB;
    state.counters["peakRiseMiB"] = result.peakRiseMiB;
    state.counters["peakPerFile"] = result.peakRiseMiB / fileMiB;
}

// 300 MiB is the hard limit of a read.
#define PELKO_FILE_READ_BENCH(kind)                      \
    BENCHMARK_CAPTURE(BM_FileReadPeakMemory, kind, kind) \
        ->ArgName("MiB")                                 \
        ->Arg(64)                                        \
        ->Arg(300)                                       \
        ->Iterations(1)                                  \
        ->Unit(benchmark::kMillisecond)

PELKO_FILE_READ_BENCH(asciiText);
PELKO_FILE_READ_BENCH(utf8Text);
PELKO_FILE_READ_BENCH(latin1Text);
PELKO_FILE_READ_BENCH(pngImage);

}  // namespace

BENCHMARK_MAIN();
