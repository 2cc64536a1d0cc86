// The window's renderers compared through the real window: build/bin/pelko under a display, once per
// GTK renderer (GSK_RENDERER cairo, gl and ngl; then unset, for the application's own choice), with a
// test page that goes through three phases:
//   idle     3 s of animation frames with a counter label, as a quiet workspace draws;
//   flood    one terminal session `cat`s a 100 MB text file while the label counts the bytes and the
//            page asks for the configuration every 100 ms (the terminal_stream_window page);
//   drawing  the page repaints a 1280×760 canvas on every animation frame and asks five times for a
//            file, a listing, a Git refresh barrier and a terminal echo at once.
// For each renderer it prints the frame rates, the flood's rate, the worst answer while drawing and
// the application's peak resident memory, and the window's log line about its renderer.
// Needs a display and a session bus (the web process sandbox proxies it):
// `dbus-run-session -- xvfb-run -a -s "-screen 0 1280x800x24" build-release/bin/bench_window_renderers`.
// Targets: the flood arrives whole and every answer while drawing comes within 250 ms, for every
// renderer; the program exits with 1 when one is missed.
#include <benchmark/benchmark.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.hpp"
#include "config/AppConfig.hpp"
#include "e2e/DrawingPageScript.hpp"
#include "platform/Json.hpp"

namespace fs = std::filesystem;
using namespace pelko;

namespace {

constexpr std::size_t payloadBytes = std::size_t{100} * 1000 * 1000;

const char* const pageScript = R"JS(
(function () {
  const post = (body) => window.webkit.messageHandlers.pelko.postMessage(body);
  const log = (message) => post({ type: 'webview/log', source: 'bench', message: message });
  const frames = [];
  const result = {};
  let floodId = null, echoId = null, finished = false;
  let bytes = 0, context = null, painted = 0;
  const label = document.createElement('pre');
  document.body.style.margin = '0';
  document.body.appendChild(label);
  const frame = (now) => {
    frames.push(now);
    label.textContent = String(bytes);
    if (context) {
      paintFrame(context, ++painted);
    }
    if (!finished) requestAnimationFrame(frame);
  };
  requestAnimationFrame(frame);
  const fps = (from, to) => (frames.filter((t) => t >= from && t <= to).length - 1) * 1000 / (to - from);
  const finish = () => {
    finished = true;
    log('result ' + JSON.stringify(result));
  };

  // Idle.
  const startIdle = () => {
    const from = performance.now();
    setTimeout(() => {
      result.idleFps = fps(from, performance.now());
      startFlood();
    }, 3000);
  };

  // Flood.
  let floodStart = 0, floodEnd = 0, requestAt = 0;
  const rtts = [];
  const request = () => {
    if (floodEnd) return;
    requestAt = performance.now();
    post({ type: 'app/config/request' });
  };
  const endFlood = () => {
    if (floodEnd) return;
    floodEnd = performance.now();
    if (requestAt) rtts.push(floodEnd - requestAt);
    result.floodMs = floodEnd - floodStart;
    result.floodBytes = bytes;
    result.floodFps = fps(floodStart, floodEnd);
    result.floodRequestMaxMs = Math.max(0, ...rtts);
    result.floodRequests = rtts.length;
    startDrawing();
  };
  const startFlood = () => {
    floodStart = performance.now();
    post({ type: 'terminal/input', payload: { sessionId: floodId, data: 'go\n' } });
    setTimeout(request, 100);
    setTimeout(endFlood, 180000);
  };

  // Drawing.
  let round = 0, pending = {}, echoed = '', drawStart = 0;
  const answers = { file: [], listing: [], barrier: [], terminal: [] };
  const answer = (kind) => {
    if (!(kind in pending)) return;
    answers[kind].push(performance.now() - pending[kind]);
    delete pending[kind];
    if (Object.keys(pending).length === 0) setTimeout(nextRound, 200);
  };
  const nextRound = () => {
    if (++round > 5) {
      result.drawingFps = fps(drawStart, performance.now());
      result.answers = answers;
      return finish();
    }
    const id = 'round-' + round;
    const now = performance.now();
    pending = { file: now, listing: now, barrier: now, terminal: now };
    askEveryKind(id, echoId, round);
    const asked = round;
    setTimeout(() => {
      if (round !== asked) return;
      for (const kind of Object.keys(pending)) answers[kind].push(-1);
      pending = {};
      nextRound();
    }, 10000);
  };
  const startDrawing = () => {
    const canvas = document.createElement('canvas');
    canvas.width = 1280;
    canvas.height = 760;
    label.remove();
    document.body.appendChild(canvas);
    context = canvas.getContext('2d');
    drawStart = performance.now();
    setTimeout(nextRound, 1000);
  };

  const dispatch = (event) => {
    const p = event.payload || {};
    if (event.type === 'terminal/created') {
      if (p.title === 'flood') floodId = p.sessionId;
      if (p.title === 'echo') echoId = p.sessionId;
      if (floodId && echoId && !result.started) {
        result.started = true;
        setTimeout(startIdle, 1000);
      }
    } else if (event.type === 'terminal/output' && p.sessionId === floodId) {
      bytes += atob(p.chunk).length;
    } else if (event.type === 'terminal/output' && p.sessionId === echoId) {
      echoed += atob(p.chunk);
      if (echoed.includes('pong' + round)) answer('terminal');
    } else if (event.type === 'terminal/exit' && p.sessionId === floodId && floodStart) {
      endFlood();
    } else if (event.type === 'app/config' && requestAt) {
      rtts.push(performance.now() - requestAt);
      requestAt = 0;
      setTimeout(request, 100);
    } else if (event.type === 'project/file/content' && p.path === 'notes.txt') {
      answer('file');
    } else if (event.type === 'project/explorer/directories' && p.requestId === 'round-' + round) {
      answer('listing');
    } else if (event.type === 'git/refresh/barrier' && p.requestId === 'round-' + round) {
      answer('barrier');
    }
  };
  window.__pelko__ = { dispatch: dispatch };
  (window.__pelkoPendingEvents || []).forEach(dispatch);
})();
)JS";

// What every run shares: the payload, written once.
struct Payload {
    fs::path folder = bench::temporaryFolder("pelko-bench-renderers");
    fs::path file = folder / "payload.txt";
    Payload() { bench::writeRandomLines(file, payloadBytes); }
    ~Payload() {
        std::error_code error;
        fs::remove_all(folder, error);
    }
};

Payload& payload() {
    static Payload shared;
    return shared;
}

// One run's folders, configuration and page.
struct Workspace {
    fs::path folder;

    Workspace() {
        folder = bench::temporaryFolder("pelko-bench-renderer");
        for (const char* sub : {"home", "cache", "data/pelko", "runtime", "bundle/web/assets"})
            fs::create_directories(folder / sub);
        fs::permissions(folder / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        std::ofstream(folder / "home/notes.txt") << "some notes\n";
        const fs::path flood = folder / "wait-then-cat.sh";
        bench::writeScript(flood, "#!/bin/sh\nread line\nexec cat '" + payload().file.string() + "'\n");
        const fs::path echo = folder / "echo.sh";
        bench::writeScript(echo, "#!/bin/sh\nwhile read line; do echo \"pong${line#ping}\"; done\n");

        AppConfig config = AppConfig::builtInDefault((folder / "home").string());
        ProjectMetadata project;
        project.id = Uuid::random();
        project.name = "Renderers";
        project.rootPath = (folder / "home").string();
        config.projects = {project};
        config.activeProjectID = project.id;
        config.cliSessions = {
            CLISessionConfig{Uuid::random(), "flood", folder.string(), flood.string(), std::nullopt},
            CLISessionConfig{Uuid::random(), "echo", folder.string(), echo.string(), std::nullopt}};
        config.enabledFeatures = {AppConfig::Feature::terminalV2};
        std::ofstream(folder / "data/pelko/config.json") << config.toJson().dump();
        std::ofstream(folder / "bundle/web/index.html")
            << "<!doctype html><html><head><meta charset=\"utf-8\"><title>renderers</title></head>"
               "<body><script src=\"./assets/bench.js\"></script></body></html>\n";
        std::ofstream(folder / "bundle/web/assets/bench.js")
            << "const PROJECT = '" << project.id.string() << "';\n"
            << test::drawingPageHelpers << pageScript;
    }
    ~Workspace() {
        std::error_code error;
        fs::remove_all(folder, error);
    }
};

struct Figures {
    std::string renderer;
    std::string logLine;
    double idleFps = 0;
    double floodFps = 0;
    double floodRate = 0;
    double floodRequestMaxMs = 0;
    bool floodWhole = false;
    double drawingFps = 0;
    std::map<std::string, double> worstAnswerMs;  // -1: never answered
    double peakRss = 0;
};

std::vector<Figures> results;

// The window's log line about its renderer, or "".
std::string rendererLogLine(const std::string& output) {
    std::size_t at = output.find("windows draw with");
    if (at == std::string::npos) return "";
    std::size_t start = output.rfind('\n', at);
    start = start == std::string::npos ? 0 : start + 1;
    return output.substr(start, output.find('\n', at) - start);
}

void BM_WindowRenderer(benchmark::State& state, const char* renderer) {
    payload();
    for (auto _ : state) {
        Workspace work;
        const fs::path root = work.folder;
        std::vector<std::string> environment = {"HOME=" + (root / "home").string(),
                                                "XDG_CACHE_HOME=" + (root / "cache").string(),
                                                "XDG_DATA_HOME=" + (root / "data").string(),
                                                "XDG_RUNTIME_DIR=" + (root / "runtime").string(),
                                                "PELKO_RESOURCE_BUNDLE=" + (root / "bundle").string(),
                                                "APPCAST_URL="};
        // None named: the application's own choice (main() removed any inherited one).
        if (*renderer) environment.push_back(std::string("GSK_RENDERER=") + renderer);
        pid_t pid =
            bench::spawnWithOutput({(fs::read_symlink("/proc/self/exe").parent_path() / "pelko").string()},
                                   environment, root / "output.txt");
        const fs::path log = root / "cache/pelko-webview.log";
        const std::string marker = "[bench] [info] result ";
        std::string result;
        double peak = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
        while (std::chrono::steady_clock::now() < deadline && waitpid(pid, nullptr, WNOHANG) == 0) {
            const long kiB = bench::statusKiB("/proc/" + std::to_string(pid) + "/status", "VmHWM");
            peak = std::max(peak, kiB < 0 ? 0.0 : static_cast<double>(kiB) * 1024);
            const std::string text = bench::readFile(log);
            if (auto at = text.find(marker); at != std::string::npos) {
                result = text.substr(at + marker.size(), text.find('\n', at) - at - marker.size());
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        bench::stop(pid);
        const std::string output = bench::readFile(root / "output.txt");
        auto parsed = json::parse(result);
        if (!parsed) {
            state.SkipWithError(("no result from the page (is there a display?) " + output).c_str());
            return;
        }
        const Json& r = *parsed;
        Figures f;
        f.renderer = *renderer ? renderer : "unset";
        f.logLine = rendererLogLine(output);
        f.idleFps = r["idleFps"].get<double>();
        f.floodFps = r["floodFps"].get<double>();
        const double floodBytes = r["floodBytes"].get<double>();
        f.floodRate = floodBytes / (r["floodMs"].get<double>() / 1000);
        f.floodWhole = floodBytes >= static_cast<double>(payloadBytes);
        f.floodRequestMaxMs = r["floodRequestMaxMs"].get<double>();
        f.drawingFps = r["drawingFps"].get<double>();
        for (const auto& [kind, values] : r["answers"].items()) {
            double worst = 0;
            for (const auto& value : values) {
                const double ms = value.get<double>();
                worst = ms < 0 || worst < 0 ? -1 : std::max(worst, ms);
            }
            f.worstAnswerMs[kind] = worst;
        }
        f.peakRss = peak;
        state.SetIterationTime(r["floodMs"].get<double>() / 1000);
        state.counters["idle_fps"] = f.idleFps;
        state.counters["flood_fps"] = f.floodFps;
        state.counters["flood_MBps"] = f.floodRate / 1e6;
        state.counters["drawing_fps"] = f.drawingFps;
        state.counters["peak_rss_MB"] = f.peakRss / 1e6;
        results.push_back(std::move(f));
    }
}

BENCHMARK_CAPTURE(BM_WindowRenderer, cairo, "cairo")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WindowRenderer, gl, "gl")->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WindowRenderer, ngl, "ngl")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WindowRenderer, chosen, "")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    ::unsetenv("GSK_RENDERER");
    if (!bench::runBenchmarks(argc, argv)) return 1;
    bool ok = true;
    for (const auto& f : results) {
        double worst = 0;
        bool answered = true;
        for (const auto& [kind, ms] : f.worstAnswerMs) {
            answered = answered && ms >= 0;
            worst = std::max(worst, ms);
        }
        const bool met = f.floodWhole && answered && worst <= 250;
        ok = ok && met;
        std::printf("GSK_RENDERER %s: %s\n", f.renderer.c_str(),
                    f.logLine.empty() ? "(no renderer log line)" : f.logLine.c_str());
        std::printf(
            "  idle %.1f fps; flood %.1f MB/s at %.1f fps%s (configuration requests at most %.0f ms); "
            "drawing %.1f fps\n",
            f.idleFps, f.floodRate / 1e6, f.floodFps, f.floodWhole ? "" : " (INCOMPLETE)",
            f.floodRequestMaxMs, f.drawingFps);
        std::printf("  worst answer while drawing:");
        for (const auto& [kind, ms] : f.worstAnswerMs) {
            if (ms < 0) {
                std::printf(" %s never", kind.c_str());
            } else {
                std::printf(" %s %.0f ms", kind.c_str(), ms);
            }
        }
        std::printf("  [%s: whole flood, answers <= 250 ms]\n", met ? "met" : "MISSED");
        std::printf("  peak resident memory of the application: %.1f MB\n", f.peakRss / 1e6);
    }
    return ok ? 0 : 1;
}
