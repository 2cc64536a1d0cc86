// Window start-up: the time from process start until the page's first script message arrives, for
// Pelko (its window, services and "app" scheme) and for a bare WebKitGTK window showing the same page;
// `quit_ms` is the time from SIGTERM until the process has returned.
// Needs a display: `xvfb-run -a build/bin/bench_window_startup`. Each run gets a session bus of its own. With
// `--bare-window <page> <record>` this program is the bare window itself: it records the time of the first
// message in milliseconds since 1970 and quits.
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "BenchSupport.hpp"
#include "platform/Date.hpp"

namespace fs = std::filesystem;

namespace {

const char* const page = R"(<!doctype html><html><head><meta charset="utf-8"><title>bench</title></head>
<body><script>window.webkit.messageHandlers.pelko.postMessage({ type: 'webview/log', source: 'bench', message: 'first' });</script></body></html>
)";

std::int64_t nowMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// --- The bare window ---

struct BareWindow {
    std::string record;
    GtkApplication* application = nullptr;
};

void onFirstMessage(WebKitUserContentManager*, JSCValue*, gpointer data) {
    auto* bare = static_cast<BareWindow*>(data);
    std::ofstream(bare->record) << nowMilliseconds() << "\n";
    g_application_quit(G_APPLICATION(bare->application));
}

int runBareWindow(const char* pageFile, const char* record) {
    BareWindow bare{record, gtk_application_new("app.pelko.BareWindow", G_APPLICATION_NON_UNIQUE)};
    static std::string uri;
    uri = std::string("file://") + pageFile;
    g_signal_connect(
        bare.application, "activate", G_CALLBACK(+[](GtkApplication* app, gpointer data) {
            GtkWidget* window = gtk_application_window_new(app);
            gtk_window_set_default_size(GTK_WINDOW(window), 1280, 800);
            GtkWidget* view = webkit_web_view_new();
            auto* manager = webkit_web_view_get_user_content_manager(WEBKIT_WEB_VIEW(view));
            g_signal_connect(manager, "script-message-received::pelko", G_CALLBACK(onFirstMessage), data);
            webkit_user_content_manager_register_script_message_handler(manager, "pelko", nullptr);
            gtk_window_set_child(GTK_WINDOW(window), view);
            webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), uri.c_str());
            gtk_window_present(GTK_WINDOW(window));
        }),
        &bare);
    char* argv[] = {const_cast<char*>("bare"), nullptr};
    int status = g_application_run(G_APPLICATION(bare.application), 1, argv);
    g_object_unref(bare.application);
    return status;
}

// --- The benchmark side ---

// Waits (polling, with a deadline) until `parse` finds the time of the first message.
template <class Parse>
std::int64_t waitForFirstMessage(Parse parse) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto at = parse()) return at;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
}

fs::path binFolder() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

// The web engine's helper processes may still be tidying up their files after the window's process
// has exited.
void removeScratch(const fs::path& root) {
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

// A session bus for one run, as a desktop session gives every application. Without one, GLib starts a
// bus through X11 autolaunch that outlives the run, and with it an accessibility bus whose socket lies in
// the run's runtime folder; once that folder is removed, the web process sandbox of every later run on the
// display fails to start ("Can't find source path .../runtime/at-spi"). Ending this bus ends the services
// it started.
class SessionBus {
  public:
    explicit SessionBus(const fs::path& root) : socket_(root / "runtime/bus") {
        pid_ = pelko::bench::spawnWithOutput(
            {"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
             "--address=unix:path=" + socket_.string()},
            {"XDG_RUNTIME_DIR=" + (root / "runtime").string(), "HOME=" + (root / "home").string()},
            root / "bus.txt");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (pid_ > 0 && !fs::exists(socket_) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~SessionBus() { end(); }
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    void end() {
        pelko::bench::stop(pid_);
        pid_ = -1;
    }
    std::string environment() const { return "DBUS_SESSION_BUS_ADDRESS=unix:path=" + socket_.string(); }

  private:
    fs::path socket_;
    pid_t pid_ = -1;
};

// Stops the program, timing its quitting, and records the time to its first page message; false (and
// the run skipped) when no message came.
bool finishIteration(benchmark::State& state, pid_t pid, SessionBus& bus, const fs::path& root,
                     std::int64_t started, std::int64_t first) {
    const std::int64_t quitting = nowMilliseconds();
    pelko::bench::stop(pid);
    state.counters["quit_ms"] += static_cast<double>(nowMilliseconds() - quitting);
    state.counters["quit_ms"].flags = benchmark::Counter::kAvgIterations;
    bus.end();
    const std::string output = pelko::bench::readFile(root / "output.txt");
    removeScratch(root);
    if (!first) {
        state.SkipWithError(("no page message (is there a display?) " + output).c_str());
        return false;
    }
    state.SetIterationTime(static_cast<double>(first - started) / 1000.0);
    return true;
}

void BM_PelkoFirstPageMessage(benchmark::State& state) {
    for (auto _ : state) {
        const fs::path root = pelko::bench::temporaryFolder("pelko-bench");
        for (const char* folder : {"home", "cache", "data", "runtime", "bundle/web"})
            fs::create_directories(root / folder);
        fs::permissions(root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        std::ofstream(root / "bundle/web/index.html") << page;
        SessionBus bus(root);
        const std::int64_t started = nowMilliseconds();
        pid_t pid = pelko::bench::spawnWithOutput(
            {(binFolder() / "pelko").string()},
            {bus.environment(), "HOME=" + (root / "home").string(),
             "XDG_CACHE_HOME=" + (root / "cache").string(), "XDG_DATA_HOME=" + (root / "data").string(),
             "XDG_RUNTIME_DIR=" + (root / "runtime").string(),
             "PELKO_RESOURCE_BUNDLE=" + (root / "bundle").string()},
            root / "output.txt");
        const std::int64_t first = waitForFirstMessage([&]() -> std::int64_t {
            std::smatch match;
            const std::string log = pelko::bench::readFile(root / "cache/pelko-webview.log");
            if (!std::regex_search(log, match, std::regex(R"(\[([^\]]+)\] \[bench\] \[info\] first)")))
                return 0;
            auto date = pelko::Date::parseIso(match[1].str());
            return date ? date->milliseconds() : 0;
        });
        if (!finishIteration(state, pid, bus, root, started, first)) break;
    }
}

void BM_BareWebKitFirstPageMessage(benchmark::State& state) {
    for (auto _ : state) {
        const fs::path root = pelko::bench::temporaryFolder("pelko-bench");
        for (const char* folder : {"home", "cache", "data", "runtime"}) fs::create_directories(root / folder);
        fs::permissions(root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        std::ofstream(root / "index.html") << page;
        SessionBus bus(root);
        const std::int64_t started = nowMilliseconds();
        pid_t pid = pelko::bench::spawnWithOutput(
            {fs::read_symlink("/proc/self/exe").string(), "--bare-window", (root / "index.html").string(),
             (root / "record.txt").string()},
            {bus.environment(), "HOME=" + (root / "home").string(),
             "XDG_CACHE_HOME=" + (root / "cache").string(), "XDG_DATA_HOME=" + (root / "data").string(),
             "XDG_RUNTIME_DIR=" + (root / "runtime").string()},
            root / "output.txt");
        const std::int64_t first = waitForFirstMessage([&]() -> std::int64_t {
            const std::string text = pelko::bench::readFile(root / "record.txt");
            return text.find('\n') == std::string::npos ? 0 : std::atoll(text.c_str());
        });
        if (!finishIteration(state, pid, bus, root, started, first)) break;
    }
}

BENCHMARK(BM_PelkoFirstPageMessage)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareWebKitFirstPageMessage)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--bare-window") == 0) return runBareWindow(argv[2], argv[3]);
    return pelko::bench::runBenchmarks(argc, argv) ? 0 : 1;
}
