#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <iostream>
#include <regex>
#include <sstream>

#include "e2e/PelkoWindowFixture.hpp"
#include "e2e/XKeyboard.hpp"
#include "git/GitTestSupport.hpp"
#include "platform/Date.hpp"

namespace pelko {
namespace {

using namespace std::chrono_literals;

// Reports everything it sees through "webview/log" messages, which the test reads from the log file.
const char* const pageScript = R"(
  log('page-start ' + location.href);
  window.__pelko__ = {
    dispatch: function (event) {
      log('event ' + event.type + (event.type === 'project/activate' ? ' ' + event.payload.name : ''));
    }
  };
  (window.__pelkoPendingEvents || []).forEach(window.__pelko__.dispatch);
  // Asked while the page is still loading: the answer waits behind the events already held.
  post({ type: 'app/config/request' });
  post({ type: 'webview/log', level: 'debug', payload: { nested: [1, 2] } });
  post({ type: 'webview/log', source: 'e2e\n[x]', message: 'one\n[2026-01-01T00:00:00.000Z] [e2e] [info] forged\r\u2028' });
  // A string cut inside an emoji still makes its log line.
  log('cut ' + '\u{1F600}'.slice(0, 1));
  fetch('app://bundle/missing/nothing.js')
    .then((r) => r.text().then((t) => log('fetch-missing ' + r.status + ' ' + t)))
    .catch((e) => log('fetch-missing failed ' + e));
  fetch('app://bundle/assets/data.json')
    .then((r) => r.json().then((j) => log('fetch-json ' + r.status + ' ' + j.ok)))
    .catch((e) => log('fetch-json failed ' + e));
)";

// First load: once the page has its events, navigate to a folder (a failing load); once the native side
// has logged the failure, ask for the configuration, then go to a page that loads. Second load: report
// what arrives.
const char* const failingScript = R"(
  const second = location.search === '?second';
  log('page-start ' + (second ? 'second' : 'first'));
  let failing = false;
  // The test writes "go.txt" once the native side has logged the failed navigation: from then on
  // nothing may reach this page, however slow the machine.
  const askOnceFailureIsKnown = function () {
    fetch('./assets/go.txt').then(function (response) {
      if (!response.ok) return setTimeout(askOnceFailureIsKnown, 100);
      log('asked-after-failure');
      post({ type: 'app/config/request' });
      // Time for a wrongly delivered answer to show here before the next page replaces this one.
      setTimeout(function () { location.href = 'app://bundle/index.html?second'; }, 1000);
    }, function () { setTimeout(askOnceFailureIsKnown, 100); });
  };
  window.__pelko__ = {
    dispatch: function (event) {
      log('event ' + (failing ? 'after-failure ' : '') + event.type);
      if (!second && !failing && event.type === 'terminal/snapshot' && ++window.snapshots === 2) {
        failing = true;
        location.href = 'app://bundle/assets';
        askOnceFailureIsKnown();
      }
    }
  };
  window.snapshots = 0;
  (window.__pelkoPendingEvents || []).forEach(window.__pelko__.dispatch);
)";

// Reports the key presses, project activations and terminal states the page sees. Escape gives the
// first configured terminal session native key input.
const char* const keysScript = R"(
  let sessionId = null;
  let output = '';
  window.addEventListener('keydown', function (e) {
    if (['Control', 'Shift', 'Alt'].includes(e.key)) return;
    log('key ' + e.key + ' ' + e.code + ' meta=' + e.metaKey + ' ctrl=' + e.ctrlKey + ' shift=' + e.shiftKey +
        ' trusted=' + e.isTrusted);
    if (e.key === 'Escape' && sessionId) {
      post({ type: 'terminal/focus', payload: { sessionId: sessionId, focused: true } });
      log('focused');
    }
  });
  window.__pelko__ = {
    dispatch: function (event) {
      if (event.type === 'project/activate') log('activate ' + event.payload.name);
      if (event.type === 'app/config' && event.payload.cliSessions.length) sessionId = event.payload.cliSessions[0].id;
      if (event.type === 'terminal/output') {
        output += atob(event.payload.chunk);
        if (output.includes('zqx')) log('terminal echoed zqx');
      }
    }
  };
  (window.__pelkoPendingEvents || []).forEach(window.__pelko__.dispatch);
)";

using test::freePort;
using test::pageWith;
using test::PelkoWindowTest;

TEST_F(PelkoWindowTest, ThePageGetsItsEventsInOrderAndTheSchemeServesItsFiles) {
    writeTestPage(pageScript);
    auto pelko = start();
    ASSERT_TRUE(test::waitFor([&] { return hasMessage("fetch-missing") && hasMessage("fetch-json"); }, 60s))
        << output() << test::readFile(logFile());
    // The wiring and every configuration are followed by a sign-in status from the keyring: each keeps
    // its place unless the keyring took longer than the bridge holds a place for it (a loaded machine),
    // and then follows when it comes. So they are counted, and the order is checked without them.
    const auto everyStatusCame = [](const std::vector<std::string>& types) {
        return std::count(types.begin(), types.end(), "github/oauth/status") ==
               1 + std::count(types.begin(), types.end(), "app/config");
    };
    const auto withoutStatuses = [](std::vector<std::string> types) {
        std::erase(types, "github/oauth/status");
        return types;
    };
    ASSERT_TRUE(test::waitFor(
        [&] {
            auto e = withoutStatuses(events());
            return e.size() >= 5 && e.back() == "app/config" && everyStatusCame(events());
        },
        30s))
        << test::readFile(logFile());

    EXPECT_TRUE(hasMessage("page-start app://bundle/"));
    EXPECT_TRUE(hasMessage("fetch-missing 404 Not found")) << test::readFile(logFile());
    EXPECT_TRUE(hasMessage("fetch-json 200 true")) << test::readFile(logFile());
    EXPECT_TRUE(hasMessage("cut \xEF\xBF\xBD")) << test::readFile(logFile());

    const auto all = events();
    EXPECT_TRUE(everyStatusCame(all));
    EXPECT_EQ(all.front(), "terminal/snapshot");
    const auto seen = withoutStatuses(all);
    // The first metrics sample is held with the wiring's events.
    ASSERT_GE(withoutStatuses(events(true)).size(), 2u);
    EXPECT_EQ(withoutStatuses(events(true))[1], "system/metrics");
    // Held at wiring, then the content view's first configuration and project, in order.
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 2),
              (std::vector<std::string>{"terminal/snapshot", "app/config"}));
    EXPECT_EQ(seen[2].rfind("project/activate ", 0), 0u);
    EXPECT_NE(std::find(seen.begin(), seen.end(), "project/activate E2E"), seen.end());
    // The content view's last held event, then the answer to "app/config/request".
    EXPECT_EQ(std::vector<std::string>(seen.end() - 2, seen.end()),
              (std::vector<std::string>{"terminal/snapshot", "app/config"}));

    // Log records: time stamp with milliseconds, a payload as JSON on one line, and the page's line
    // breaks escaped, so the page cannot write a record of its own.
    const auto log = test::readFile(logFile());
    EXPECT_TRUE(std::regex_search(
        log, std::regex(R"(^\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\] \[e2e\] \[info\] page-start)")));
    EXPECT_NE(log.find("] [web] [debug] {\"nested\":[1,2]}\n"), std::string::npos) << log;
    EXPECT_NE(
        log.find("] [e2e\\n[x]] [info] one\\n[2026-01-01T00:00:00.000Z] [e2e] [info] forged\\r\\u2028\n"),
        std::string::npos)
        << log;
    EXPECT_EQ(log.find("\n[2026-01-01T00:00:00.000Z]"), std::string::npos) << log;

    // Time from process start to the page's first message.
    std::smatch match;
    ASSERT_TRUE(std::regex_search(log, match, std::regex(R"(\[([^\]]+)\] \[e2e\] \[info\] page-start)")));
    auto firstMessage = Date::parseIso(match[1].str());
    ASSERT_TRUE(firstMessage);
    const auto elapsed = firstMessage->milliseconds() - pelko->startedAt;
    RecordProperty("first_page_message_ms", std::to_string(elapsed));
    std::cout << "pelko: process start to first page message: " << elapsed << " ms\n";
}

TEST_F(PelkoWindowTest, AFailedNavigationKeepsEventsHeldUntilAPageLoads) {
    writeTestPage(failingScript);
    auto pelko = start();
    ASSERT_TRUE(test::waitFor(
        [&] { return output().find("did not load app://bundle/assets") != std::string::npos; }, 60s))
        << output() << test::readFile(logFile());
    test::writeFile(dir / "bundle/web/assets/go.txt", "go");
    ASSERT_TRUE(test::waitFor([&] { return hasMessage("page-start second"); }, 60s))
        << output() << test::readFile(logFile());
    ASSERT_TRUE(test::waitFor(
        [&] {
            auto e = events();
            return !e.empty() && e.back() == "github/oauth/status";
        },
        30s));

    const auto messages = pageMessages();
    auto second = std::find(messages.begin(), messages.end(), "page-start second");
    auto asked = std::find(std::make_reverse_iterator(second), messages.rend(), "asked-after-failure").base();
    ASSERT_NE(asked, messages.begin()) << "never asked after the failed navigation";
    --asked;
    // Nothing reached the old page after its last question...
    for (auto it = asked; it != second; ++it) EXPECT_EQ(it->rfind("event", 0), std::string::npos) << *it;
    // ...the held answer reached the page that loaded next.
    const auto seen = events();
    EXPECT_NE(std::find(second, messages.end(), "event app/config"), messages.end());
    EXPECT_EQ(seen.back(), "github/oauth/status");
}

TEST_F(PelkoWindowTest, ZoomMenuAndTerminalKeysGoWhereTheyBelong) {
    // A display of its own, so that no other window takes the keys.
    if (!std::filesystem::exists("/usr/bin/Xvfb")) GTEST_SKIP() << "needs Xvfb";
    test::PelkoProcess server("/usr/bin/Xvfb",
                              {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"}, {},
                              dir / "xvfb.txt");
    // The server's own messages share the file (another server starting at the same moment makes
    // some); the display it announces is the whole line of digits.
    std::string number;
    ASSERT_TRUE(test::waitFor(
        [&] {
            std::istringstream lines(test::readFile(dir / "xvfb.txt"));
            for (std::string line; std::getline(lines, line) && !lines.eof();) {
                if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) number = line;
            }
            return !number.empty();
        },
        30s))
        << test::readFile(dir / "xvfb.txt");
    const std::string display = ":" + number;
    test::XKeyboard keyboard(display);
    if (!keyboard.available()) GTEST_SKIP() << "needs the XTEST extension";
    config.projects.push_back(project("E2E second"));
    saveWithZshSession();
    writeTestPage(keysScript);
    auto pelko = start({{"DISPLAY", display}});
    ASSERT_TRUE(test::waitFor([&] { return hasMessage("activate E2E"); }, 60s)) << output();

    // The window takes the keyboard once it is shown; type until the page hears a plain key.
    ASSERT_TRUE(test::waitFor(
        [&] {
            keyboard.press({"a"});
            return hasMessage("key a KeyA");
        },
        30s));

    auto count = [&](const std::string& message) {
        auto messages = pageMessages();
        return std::count(messages.begin(), messages.end(), message);
    };
    keyboard.press({"Control_L", "equal"});
    EXPECT_TRUE(test::waitFor(
        [&] { return count("key = Equal meta=true ctrl=false shift=false trusted=false") == 1; }, 10s));
    keyboard.press({"Control_L", "Shift_L", "equal"});
    EXPECT_TRUE(test::waitFor(
        [&] { return count("key + Equal meta=true ctrl=false shift=true trusted=false") == 1; }, 10s));
    // Not a zoom key: the page gets the real key press.
    keyboard.press({"Control_L", "1"});
    EXPECT_TRUE(test::waitFor(
        [&] { return count("key 1 Digit1 meta=false ctrl=true shift=false trusted=true") == 1; }, 10s));
    // The zoom keys themselves never reached the page.
    EXPECT_EQ(count("key = Equal meta=false ctrl=true shift=false trusted=true"), 0);

    keyboard.press({"Control_L", "Alt_L", "Right"});
    EXPECT_TRUE(test::waitFor([&] { return count("activate E2E second") == 1; }, 10s));
    keyboard.press({"Control_L", "Alt_L", "Left"});
    EXPECT_TRUE(test::waitFor([&] { return count("activate E2E") == 2; }, 10s)) << test::readFile(logFile());

    // With a terminal session taking native input, printable keys go to its shell and never to the
    // page; other keys still reach the page.
    keyboard.press({"Escape"});
    ASSERT_TRUE(test::waitFor([&] { return count("focused") == 1; }, 10s));
    for (const char* key : {"z", "q", "x"}) keyboard.press({key});
    EXPECT_TRUE(test::waitFor([&] { return hasMessage("terminal echoed zqx"); }, 20s))
        << test::readFile(logFile());
    keyboard.press({"Escape"});
    ASSERT_TRUE(test::waitFor([&] { return count("focused") == 2; }, 10s));
    for (const char* key : {"z", "q", "x"}) EXPECT_FALSE(hasMessage(std::string("key ") + key + " ")) << key;
}

// A page asks one project for its Git views and a commit that its hook holds, then for a refresh barrier
// for that project and one for an id that names no project, then for another project's status: the
// other project is answered at once, and the barriers only after the commit, in the order asked.
TEST_F(PelkoWindowTest, RefreshBarriersWaitForEveryProjectsEarlierGitWork) {
    test::writeFile(dir / "home/.gitconfig", "[user]\n\tname = Ada\n\temail = ada@example.com\n");
    test::GitRepo slow{dir / "slow"};
    slow.git({"init", "-q"});
    slow.commit("first", "a.txt", "a\n");
    slow.write("b.txt", "b\n");
    const auto released = dir / "released";
    const auto hook = slow / ".git/hooks/pre-commit";
    test::writeFile(hook, "#!/bin/sh\nwhile [ ! -e '" + released.string() + "' ]; do sleep 0.02; done\n");
    ASSERT_EQ(::chmod(hook.c_str(), 0755), 0);
    struct Release {
        std::filesystem::path file;
        ~Release() { test::writeFile(file, ""); }
    } release{released};
    test::GitRepo quick{dir / "quick"};
    quick.git({"init", "-q"});
    quick.commit("first", "q.txt", "q\n");
    auto slowProject = project("Slow");
    slowProject.rootPath = slow.path().string();
    auto quickProject = project("Quick");
    quickProject.rootPath = quick.path().string();
    config.projects = {slowProject, quickProject};
    config.activeProjectID = slowProject.id;
    saveConfig();

    const std::string a = slowProject.id.string();
    const std::string b = quickProject.id.string();
    const std::string script = R"(
  const A = ')" + a + R"(', B = ')" +
                               b + R"(';
  let asked = false;
  window.__pelko__ = {
    dispatch: function (event) {
      const p = event.payload || {};
      if (event.type.startsWith('git/')) log('git ' + event.type + ' ' + (p.requestId || p.message || p.projectId));
      if (event.type === 'app/config' && !asked) {
        asked = true;
        const git = (type, payload) => post({ type: type, payload: Object.assign({ projectId: A }, payload) });
        git('git/status'); git('git/working-tree'); git('git/diff'); git('git/remote/tracking');
        git('git/commit', { message: 'held' });
        git('git/refresh/barrier', { requestId: 'for-a' });
        git('git/refresh/barrier', { projectId: '00000000-0000-4000-8000-000000000000', requestId: 'for-none' });
        git('git/status', { projectId: B });
      }
    }
  };
  (window.__pelkoPendingEvents || []).forEach(window.__pelko__.dispatch);
)";
    writeTestPage(script.c_str());
    auto pelko = start();
    auto gitEvents = [&] {
        std::vector<std::string> found;
        for (const auto& message : pageMessages()) {
            if (message.rfind("git ", 0) == 0) found.push_back(message.substr(4));
        }
        return found;
    };
    auto has = [&](const std::string& event) {
        auto found = gitEvents();
        return std::find(found.begin(), found.end(), event) != found.end();
    };
    ASSERT_TRUE(test::waitFor([&] { return has("git/status " + b); }, 60s)) << test::readFile(logFile());
    EXPECT_FALSE(has("git/refresh/barrier for-a")) << test::readFile(logFile());
    EXPECT_FALSE(has("git/refresh/barrier for-none"));

    test::writeFile(released, "");
    ASSERT_TRUE(test::waitFor([&] { return has("git/refresh/barrier for-none"); }, 60s))
        << test::readFile(logFile());
    const auto seen = gitEvents();
    const auto at = [&](const std::string& event) {
        return std::find(seen.begin(), seen.end(), event) - seen.begin();
    };
    EXPECT_LT(at("git/result コミットしました"), at("git/refresh/barrier for-a"));
    EXPECT_LT(at("git/refresh/barrier for-a"), at("git/refresh/barrier for-none"));
    for (const char* view : {"git/working-tree ", "git/diff ", "git/remote/tracking "})
        EXPECT_LT(at(view + a), at("git/refresh/barrier for-a")) << view;
    EXPECT_TRUE(pelko->running());
}

TEST_F(PelkoWindowTest, TheFallbackPageShowsWithoutAnIndexPage) {
    const int port = freePort();
    auto pelko = start({{"WEBKIT_INSPECTOR_HTTP_SERVER", "127.0.0.1:" + std::to_string(port)}});
    // The inspector's target list names the page the web view shows.
    std::string listing;
    ASSERT_TRUE(test::waitFor(
        [&] {
            const std::string command = "curl -s -m 2 http://127.0.0.1:" + std::to_string(port) + "/";
            FILE* pipe = ::popen(command.c_str(), "r");
            if (!pipe) return false;
            char buffer[4096];
            listing.clear();
            for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) listing.append(buffer, n);
            ::pclose(pipe);
            return listing.find(R"(<div class="targetname">pelko</div>)") != std::string::npos;
        },
        60s))
        << output();
    EXPECT_NE(listing.find(R"(<div class="targetname">pelko</div><div class="targeturl">about:blank</div>)"),
              std::string::npos)
        << listing;
    EXPECT_TRUE(pelko->running());
}

}  // namespace
}  // namespace pelko
