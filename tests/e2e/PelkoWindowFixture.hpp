#pragma once
// The real window for a test: the application started with its own XDG folders and a test page in its
// own resource bundle; the page reports what it sees through "webview/log" lines, read from the log file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "config/AppConfig.hpp"
#include "e2e/PelkoProcess.hpp"
#include "e2e/XWindows.hpp"
#include "support/LoopbackListener.hpp"

namespace pelko::test {

inline const char* const indexHtml = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>e2e</title></head>
<body><script src="./assets/e2e.js"></script></body></html>
)";

// A page script with `post` (a message to the native side) and `log` (a "webview/log" line from "e2e").
inline std::string pageWith(const char* body) {
    return std::string(R"(
(function () {
  const post = (body) => window.webkit.messageHandlers.pelko.postMessage(body);
  const log = (message) => post({ type: 'webview/log', source: 'e2e', message: message });
)") + body +
           "})();\n";
}

inline int freePort() {
    const auto listener = listenOnLoopback(1);
    ::close(listener.fd);
    return listener.port;
}

class PelkoWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Environment::process().nonEmpty("DISPLAY") &&
            !Environment::process().nonEmpty("WAYLAND_DISPLAY")) {
            GTEST_SKIP() << "needs a display (run under xvfb-run)";
        }
        ASSERT_TRUE(std::filesystem::exists(test::binFolder() / "pelko"));
        // Xvfb resets itself whenever its last client leaves and turns away whoever connects during the
        // reset, which takes longer the busier the machine: an application started just as another
        // test's ends would find no display. A connection of the test's own, held from before its
        // application starts until after it ends, keeps the server from resetting under it.
        if (const auto display = Environment::process().nonEmpty("DISPLAY")) {
            ASSERT_TRUE(test::waitFor(
                [&] {
                    heldDisplay = std::make_unique<XWindows>(*display);
                    return heldDisplay->available();
                },
                std::chrono::seconds(30)))
                << "the X display " << *display << " does not answer";
        }
        for (const char* folder : {"home", "cache", "data", "bundle"})
            std::filesystem::create_directories(dir / folder);

        config = AppConfig::builtInDefault((dir / "home").string());
        config.projects = {project("E2E")};
        config.activeProjectID = config.projects[0].id;
        config.cliSessions.clear();
        saveConfig();
    }

    ProjectMetadata project(const std::string& name) const {
        ProjectMetadata metadata;
        metadata.id = Uuid::random();
        metadata.name = name;
        metadata.rootPath = (dir / "home").string();
        return metadata;
    }
    void saveConfig() const { test::writeFile(dir / "data/pelko/config.json", config.toJson().dump()); }
    // One zsh session in the home folder, of the first project, with the terminal on; saved.
    void saveWithZshSession() {
        CLISessionConfig session;
        session.id = Uuid::random();
        session.title = "CLI #1";
        session.workingDirectory = (dir / "home").string();
        session.shell = "/bin/zsh";
        session.projectId = config.projects.front().id;
        config.cliSessions = {session};
        config.enabledFeatures = {AppConfig::Feature::terminalV2};
        saveConfig();
    }

    void writeTestPage(const char* script) {
        test::writeFile(dir / "bundle/web/index.html", indexHtml);
        test::writeFile(dir / "bundle/web/assets/e2e.js", pageWith(script));
        test::writeFile(dir / "bundle/web/assets/data.json", R"({"ok":true})");
    }

    // For `start`: under the asan preset, what the GUI libraries keep at exit is theirs and is not
    // reported; a use after free still is.
    static std::pair<std::string, std::string> withoutLeakReports() {
        std::string options = Environment::process().nonEmpty("ASAN_OPTIONS").value_or("");
        return {"ASAN_OPTIONS", options + (options.empty() ? "" : ":") + "detect_leaks=0"};
    }

    // The application with the test's folders, `extra` added or put in their place (`program`: another
    // build of it), its output in `output`.
    std::unique_ptr<test::PelkoProcess> start(std::map<std::string, std::string> extra = {},
                                              std::filesystem::path program = {},
                                              const std::string& output = "output.txt") {
        if (program.empty()) program = test::binFolder() / "pelko";
        std::map<std::string, std::string> env{{"HOME", (dir / "home").string()},
                                               {"XDG_CACHE_HOME", (dir / "cache").string()},
                                               {"XDG_DATA_HOME", (dir / "data").string()},
                                               {"PELKO_RESOURCE_BUNDLE", (dir / "bundle").string()},
                                               {"APPCAST_URL", ""}};
        for (auto& [name, value] : extra) env[name] = std::move(value);
        return std::make_unique<test::PelkoProcess>(program, std::vector<std::string>{}, env, dir / output);
    }

    std::filesystem::path logFile() const { return dir / "cache/pelko-webview.log"; }

    // The page's own messages ("[e2e] [info] <text>"), in order.
    std::vector<std::string> pageMessages() const {
        std::vector<std::string> messages;
        std::istringstream lines(test::readFile(logFile()));
        const std::string marker = "] [e2e] [info] ";
        for (std::string line; std::getline(lines, line);) {
            auto at = line.find(marker);
            if (at != std::string::npos) messages.push_back(line.substr(at + marker.size()));
        }
        return messages;
    }
    bool hasMessage(const std::string& prefix) const {
        for (const auto& message : pageMessages()) {
            if (message.rfind(prefix, 0) == 0) return true;
        }
        return false;
    }
    // The page's events in order; the five-second "system/metrics" samples, whose place depends on
    // timing, only when asked for. Git's answers come whenever its runs end, so they are left out.
    std::vector<std::string> events(bool withMetrics = false) const {
        std::vector<std::string> result;
        for (const auto& message : pageMessages()) {
            if (message.rfind("event ", 0) != 0) continue;
            std::string type = message.substr(6);
            if (type.starts_with("git/")) continue;
            if (withMetrics || type != "system/metrics") result.push_back(std::move(type));
        }
        return result;
    }
    std::string output() const { return test::readFile(dir / "output.txt"); }
    // The application returned from main with status 0 (`status` is its wait status), and no sanitizer
    // reported anything.
    void expectReturnedCleanly(int status) const {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output();
        EXPECT_EQ(output().find("AddressSanitizer"), std::string::npos) << output();
        EXPECT_EQ(output().find("runtime error"), std::string::npos) << output();
    }

    std::unique_ptr<XWindows> heldDisplay;
    test::TempDir dir;
    AppConfig config;
};

}  // namespace pelko::test
