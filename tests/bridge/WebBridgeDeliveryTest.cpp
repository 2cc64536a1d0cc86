// Event delivery: the script text, holding while the page loads, flushing, reloads, the hop to the
// main thread, and what the page's own JavaScript makes of the scripts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <thread>

#include "bridge/BridgeTestSupport.hpp"
#include "bridge/EventScript.hpp"
#include "config/AppConfig.hpp"
#include "support/TestSupport.hpp"

namespace pelko::test {
namespace {

Json textPayload(const std::string& text) {
    Json payload = Json::object();
    payload["text"] = text;
    return payload;
}

Json numberedPayload(int n) {
    Json payload = Json::object();
    payload["n"] = n;
    return payload;
}

AppConfig smallConfig() {
    AppConfig config;
    config.projects = {ProjectMetadata{
        *Uuid::parse("11111111-2222-3333-4444-555555555555"), "Alpha", "~/alpha", std::nullopt, {}}};
    config.columnLayout.order = ColumnLayout::defaultOrder();
    return config;
}

TEST(WebBridgeDelivery, ScriptHasTheFixedHeadAndTail) {
    EXPECT_EQ(WebBridge::scriptHead().size(), 42u);
    EXPECT_EQ(WebBridge::scriptTail().size(), 549u);
    std::string script = makeScript(R"({"a":"it's \\ done"})");
    EXPECT_EQ(script, std::string(WebBridge::scriptHead()) + R"({"a":"it\'s \\\\ done"})" +
                          std::string(WebBridge::scriptTail()));
}

TEST(WebBridgeDelivery, EventsBeforeTheFirstLoadAreHeldAndRunInOrderWhenItFinishes) {
    auto bridge = WebBridge::create();
    auto webView = std::make_shared<RecordingWebView>();
    bridge->dispatchEvent("one", numberedPayload(1));
    bridge->attachWebView(webView);
    bridge->dispatchEvent("two", numberedPayload(2));
    bridge->notifyWebViewDidStartNavigation();
    bridge->dispatchEvent("three", numberedPayload(3));
    EXPECT_TRUE(webView->scripts.empty());

    bridge->notifyWebViewDidFinishNavigation();
    bridge->dispatchEvent("four", numberedPayload(4));
    EXPECT_EQ(webView->types(), (std::vector<std::string>{"one", "two", "three", "four"}));
    EXPECT_EQ(webView->events()[0]["payload"], numberedPayload(1));
}

TEST(WebBridgeDelivery, ReloadRunsHeldEventsOrResendsTheCachedConfigurationWhenNoneWereHeld) {
    LoadedBridge loaded;
    auto& bridge = *loaded.bridge;
    auto& webView = *loaded.webView;

    // Nothing held and no configuration ever handed over: a reload sends nothing.
    bridge.notifyWebViewDidStartNavigation();
    bridge.notifyWebViewDidFinishNavigation();
    EXPECT_TRUE(webView.scripts.empty());

    bridge.updateConfigSnapshot(smallConfig());
    EXPECT_EQ(webView.types(), (std::vector<std::string>{"app/config", "github/oauth/status"}));

    webView.scripts.clear();
    bridge.notifyWebViewDidStartNavigation();
    bridge.notifyWebViewDidFinishNavigation();
    EXPECT_EQ(webView.types(), (std::vector<std::string>{"app/config", "github/oauth/status"}));

    // Held scripts are exactly what the page gets: no configuration is added.
    webView.scripts.clear();
    bridge.notifyWebViewDidStartNavigation();
    bridge.dispatchEvent("held", numberedPayload(1));
    bridge.notifyWebViewDidFinishNavigation();
    EXPECT_EQ(webView.types(), (std::vector<std::string>{"held"}));
}

TEST(WebBridgeDelivery, FailedNavigationKeepsEventsHeldUntilALaterLoadFinishes) {
    LoadedBridge loaded;
    loaded.bridge->notifyWebViewDidStartNavigation();
    loaded.bridge->dispatchEvent("during-failed-load", numberedPayload(1));
    loaded.bridge->notifyWebViewDidStartNavigation();
    loaded.bridge->dispatchEvent("during-second-load", numberedPayload(2));
    EXPECT_TRUE(loaded.webView->scripts.empty());
    loaded.bridge->notifyWebViewDidFinishNavigation();
    EXPECT_EQ(loaded.webView->types(),
              (std::vector<std::string>{"during-failed-load", "during-second-load"}));
}

TEST(WebBridgeDelivery, ANewWebViewIsNotReadyUntilItLoadsWhileTheSameOneStaysReady) {
    LoadedBridge loaded;
    loaded.bridge->attachWebView(loaded.webView);
    EXPECT_TRUE(loaded.bridge->isWebViewReady());

    auto replacement = std::make_shared<RecordingWebView>();
    loaded.bridge->attachWebView(replacement);
    EXPECT_FALSE(loaded.bridge->isWebViewReady());
    loaded.bridge->dispatchEvent("held", numberedPayload(1));
    loaded.bridge->notifyWebViewDidFinishNavigation();
    EXPECT_TRUE(loaded.webView->scripts.empty());
    EXPECT_EQ(replacement->types(), (std::vector<std::string>{"held"}));
}

TEST(WebBridgeDelivery, EventsFromOtherThreadsReachThePageInTheOrderEachThreadSentThem) {
    LoadedBridge loaded;
    constexpr int perThread = 500;
    std::thread first([&] {
        for (int i = 0; i < perThread; ++i) loaded.bridge->dispatchEvent("first", numberedPayload(i));
    });
    std::thread second([&] {
        for (int i = 0; i < perThread; ++i) loaded.bridge->dispatchEvent("second", numberedPayload(i));
    });
    first.join();
    second.join();
    // Nothing is evaluated off the main thread: the scripts wait for the main queue.
    EXPECT_TRUE(loaded.webView->scripts.empty());
    ASSERT_TRUE(loaded.webView->waitForCount(2 * perThread));
    int nextFirst = 0;
    int nextSecond = 0;
    for (const auto& event : loaded.webView->events()) {
        int& next = event["type"] == "first" ? nextFirst : nextSecond;
        EXPECT_EQ(event["payload"]["n"], next);
        ++next;
    }
    EXPECT_EQ(nextFirst, perThread);
    EXPECT_EQ(nextSecond, perThread);
}

TEST(WebBridgeDelivery, AMainThreadEventOvertakesOtherThreadsEventsStillOnTheMainQueue) {
    LoadedBridge loaded;
    std::thread([&] { loaded.bridge->dispatchEvent("from-worker", numberedPayload(1)); }).join();
    loaded.bridge->dispatchEvent("from-main", numberedPayload(2));
    ASSERT_TRUE(loaded.webView->waitForCount(2));
    EXPECT_EQ(loaded.webView->types(), (std::vector<std::string>{"from-main", "from-worker"}));
}

TEST(WebBridgeDelivery, HeldEventsFromOtherThreadsKeepTheirOrderBehindEarlierHeldOnes) {
    auto bridge = WebBridge::create();
    auto webView = std::make_shared<RecordingWebView>();
    bridge->dispatchEvent("main-before", numberedPayload(0));
    std::thread([&] {
        for (int i = 1; i <= 3; ++i) bridge->dispatchEvent("worker", numberedPayload(i));
    }).join();
    MainQueue::shared().drain();
    bridge->attachWebView(webView);
    bridge->notifyWebViewDidFinishNavigation();
    ASSERT_EQ(webView->scripts.size(), 4u);
    auto events = webView->events();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(events[i]["payload"]["n"], i);
}

TEST(WebBridgeDelivery, AnEventSentFromAnotherThreadAfterTheBridgeIsGoneIsDropped) {
    auto webView = std::make_shared<RecordingWebView>();
    {
        LoadedBridge loaded;
        loaded.webView = webView;
        loaded.bridge->attachWebView(webView);
        loaded.bridge->notifyWebViewDidFinishNavigation();
        std::thread([bridge = loaded.bridge] { bridge->dispatchEvent("late", numberedPayload(1)); }).join();
    }
    MainQueue::shared().drain();
    EXPECT_TRUE(webView->scripts.empty());
}

TEST(WebBridgeDelivery, ANonFiniteNumberDropsOnlyThatEvent) {
    LoadedBridge loaded;
    Json bad = Json::object();
    bad["value"] = std::numeric_limits<double>::quiet_NaN();
    loaded.bridge->dispatchEvent("bad", bad);
    bad["value"] = std::numeric_limits<double>::infinity();
    loaded.bridge->dispatchEvent("bad", bad);
    loaded.bridge->dispatchEvent("good", numberedPayload(1));
    EXPECT_EQ(loaded.webView->types(), (std::vector<std::string>{"good"}));
}

TEST(WebBridgeDelivery, InvalidUtf8IsReplacedAndTheEventStillDelivered) {
    LoadedBridge loaded;
    loaded.bridge->dispatchEvent("git/status", textPayload("caf\xe9 \xff\xfe name.txt"));
    ASSERT_EQ(loaded.webView->scripts.size(), 1u);
    EXPECT_EQ(loaded.webView->events()[0]["payload"]["text"],
              "caf\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD name.txt");
}

// Runs the scripts in node with a window object; `dispatchFrom` is the index of the first script
// that finds window.__pelko__.dispatch defined. Returns what the page saw.
Json runInNode(const std::vector<std::string>& scripts, std::size_t dispatchFrom) {
    TempDir dir;
    std::string harness = R"JS(
const fs = require('fs');
const vm = require('vm');
const scripts = fs.readFileSync(process.argv[2], 'utf8').split('\0');
scripts.pop();
const dispatchFrom = Number(process.argv[3]);
const dispatched = [];
const context = {};
context.window = context;
vm.createContext(context);
scripts.forEach((script, index) => {
  if (index === dispatchFrom) context.__pelko__ = { dispatch: (event) => dispatched.push(event) };
  vm.runInContext(script, context);
});
process.stdout.write(JSON.stringify({
  dispatched: dispatched,
  history: context.__pelkoEventHistory,
  pending: context.__pelkoPendingEvents || []
}));
)JS";
    writeFile(dir / "harness.js", harness);
    std::string joinedScripts;
    for (const auto& script : scripts) joinedScripts += script + std::string(1, '\0');
    writeFile(dir / "scripts.txt", joinedScripts);
    std::string command = "node " + (dir / "harness.js").string() + " " + (dir / "scripts.txt").string() +
                          " " + std::to_string(dispatchFrom);
    FILE* pipe = popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    std::string output;
    char buffer[65536];
    std::size_t read = 0;
    while (pipe && (read = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, read);
    int status = pipe ? pclose(pipe) : -1;
    EXPECT_EQ(status, 0) << output;
    auto result = json::parse(output);
    EXPECT_TRUE(result.has_value()) << output;
    return result.value_or(Json::object());
}

TEST(WebBridgeDelivery, NodeParsesAndDispatchesEveryScriptUnchanged) {
    LoadedBridge loaded;
    std::vector<std::string> texts = {
        "it's a 'quote'",
        "double \"quote\" and back\\slash and \\' both",
        "line\nbreak\r\n and tab\t",
        "separators \xE2\x80\xA8 and \xE2\x80\xA9 inside",
        "invalid \xff\xc3 bytes",
        "</script><script>alert(1)</script> a/b//c",
        "\\u0041 is not an escape here",
    };
    for (const auto& text : texts) loaded.bridge->dispatchEvent("text", textPayload(text));
    // The JSON text carries no raw line break and every "/" escaped.
    const auto head = WebBridge::scriptHead().size(), tail = WebBridge::scriptTail().size();
    for (const auto& script : loaded.webView->scripts) {
        const std::string middle = script.substr(head, script.size() - head - tail);
        EXPECT_EQ(middle.find('\n'), std::string::npos) << middle;
        EXPECT_EQ(middle.find("</"), std::string::npos) << middle;
    }
    // One at the start before the page defines its dispatcher: it waits in the pending list.
    Json page = runInNode(loaded.webView->scripts, 1);
    ASSERT_EQ(page["pending"].size(), 1u);
    EXPECT_EQ(page["pending"][0]["payload"]["text"], texts[0]);
    ASSERT_EQ(page["dispatched"].size(), texts.size() - 1);
    for (std::size_t i = 1; i < texts.size(); ++i) {
        std::string expected = texts[i];
        if (i == 4) expected = "invalid \xEF\xBF\xBD\xEF\xBF\xBD bytes";
        EXPECT_EQ(page["dispatched"][i - 1]["type"], "text");
        EXPECT_EQ(page["dispatched"][i - 1]["payload"]["text"], expected) << i;
    }
    EXPECT_EQ(page["history"].size(), texts.size());
}

TEST(WebBridgeDelivery, ThePageKeepsTheLastTwoHundredEventsAndCollectsThemWhileItHasNoDispatcher) {
    LoadedBridge loaded;
    for (int i = 0; i < 250; ++i) loaded.bridge->dispatchEvent("n", numberedPayload(i));
    Json page = runInNode(loaded.webView->scripts, 1000);
    ASSERT_EQ(page["history"].size(), 200u);
    EXPECT_EQ(page["history"][0]["payload"]["n"], 50);
    EXPECT_EQ(page["history"][199]["payload"]["n"], 249);
    EXPECT_EQ(page["pending"].size(), 250u);
    EXPECT_TRUE(page["dispatched"].empty());
}

TEST(WebBridgeDelivery, TheOnePassScriptEqualsTheEncodedEnvelopeEscaped) {
    std::vector<Json> payloads = {
        Json::object(),
        Json::parse(R"({"chunk":"ab+/cd==","n":-3,"f":2.5,"big":18446744073709551615,"t":true,"z":null})"),
        Json::parse(R"({"s":"it's \"q\" \\ back / slash","nested":{"a/b":["x'y",1,[{}]]}})"),
        Json{{"ctl", std::string("tab\tnl\ncr\r\x01 del\x7f")}},
        Json{{"utf8", "日本語 \xE2\x80\xA8 é"}, {"bad", std::string("\xff\xfe ok \xc3")}},
        Json{{std::string("key\xff"), "v"}, {"k'ey", "v/"}},
        Json::array({"top", "level", 1.0, -0.0}),
        Json("plain"),
        Json(42),
    };
    // Every special character at every position of strings long enough for the word-wise scan.
    for (std::string special :
         {"\"", "\\", "/", "'", "\n", "\x1f", "\x7f", "\xc3\xa9", "\xff", "\xe2\x80\xa8"}) {
        for (std::size_t position = 0; position < 24; ++position) {
            std::string text(24, 'a');
            text.insert(position, special);
            payloads.push_back(Json{{"chunk", text}});
        }
    }
    for (const auto& payload : payloads) {
        for (const std::string type : {"terminal/output", "it's/\"odd\""}) {
            Json envelope = Json::object();
            envelope["type"] = type;
            envelope["payload"] = payload;
            EXPECT_EQ(WebBridge::eventScript(type, payload), makeScript(json::encode(envelope)))
                << payload.dump();
        }
    }
    Json nonFinite = Json::object();
    nonFinite["v"] = Json::array({std::numeric_limits<double>::quiet_NaN()});
    EXPECT_THROW(WebBridge::eventScript("x", nonFinite), EncodeError);
}

// A limit holds to the byte on the script as written, for an event written in one pass and for one
// measured first, each NUL making seven bytes.
TEST(WebBridgeDelivery, AScriptIsMadeOnlyWithinItsLimit) {
    for (std::size_t nuls : {100'000, 300'000}) {
        const Json payload = textPayload(std::string(nuls, '\0'));
        const std::string script = EventScript::build("t", payload);
        EXPECT_GT(script.size(), 7 * nuls);
        EXPECT_EQ(EventScript::buildWithin("t", payload, script.size()), script);
        EXPECT_EQ(EventScript::buildWithin("t", payload, script.size() - 1), std::nullopt);
    }
}

// Random strings over the bytes where escaping and UTF-8 repair differ: lead bytes with their
// special second-byte ranges, continuation bytes, bytes that never occur, and the escaped characters.
TEST(WebBridgeDelivery, TheScriptWriterRepairsUtf8AndEscapesAsTheJsonLibraryDoes) {
    const std::string alphabet(
        "a\"\\/"
        "'\n\x01\x7f\x80\x8f\x90\x9f\xa0\xa9\xbf\xc0\xc1\xc2\xc3\xdf\xe0\xe2\xed\xef\xf0\xf3\xf4\xf5\xff");
    std::mt19937 random(20261209);
    for (int round = 0; round < 5000; ++round) {
        std::string text(random() % 24, 'a');
        for (char& c : text) c = alphabet[random() % alphabet.size()];
        Json payload = {{"s", text}};
        Json envelope = {{"type", "t"}, {"payload", payload}};
        std::string script = WebBridge::eventScript("t", payload);
        ASSERT_EQ(script, makeScript(json::encode(envelope))) << testing::PrintToString(text);
    }
    // A large event (a whole file) is measured first and written into a buffer of exactly its size.
    std::string large(300 * 1024, 'a');
    for (char& c : large) c = alphabet[random() % alphabet.size()];
    Json payload = {{"content", large}, {"encoding", "x"}};
    std::string script = WebBridge::eventScript("t", payload);
    EXPECT_EQ(script, makeScript(json::encode(Json{{"type", "t"}, {"payload", payload}})));
    EXPECT_EQ(script.size(), script.capacity());
}

}  // namespace
}  // namespace pelko::test
