#include <gtest/gtest.h>

#include <iostream>
#include <map>

#include "e2e/DrawingPageScript.hpp"
#include "e2e/PelkoWindowFixture.hpp"

namespace pelko {
namespace {

using namespace std::chrono_literals;
using test::PelkoWindowTest;

// Repaints a 1280×760 canvas on every animation frame, so each frame is a full-window redraw. Once
// the terminal session exists and frames are flowing ("asking"), it asks three times in a row for a
// file, a listing, a refresh barrier and a terminal echo at once, each round once the last has all its
// answers, and logs how long each answer took ("answered <kind> <ms>"). How soon answers come is for
// bench_window_renderers to hold; this page only waits for them, however slow the machine.
const char* const drawingScript = R"(
  const canvas = document.createElement('canvas');
  canvas.width = 1280;
  canvas.height = 760;
  document.body.style.margin = '0';
  document.body.appendChild(canvas);
  const context = canvas.getContext('2d');
  let frames = 0;
  const draw = (now) => {
    paintFrame(context, ++frames);
    requestAnimationFrame(draw);
  };
  requestAnimationFrame(draw);

  let sessionId = null;
  let round = 0;
  let pending = {};
  let output = '';
  const answer = (kind) => {
    if (!(kind in pending)) return;
    log('answered ' + kind + ' ' + Math.round(performance.now() - pending[kind]));
    delete pending[kind];
    if (Object.keys(pending).length === 0) nextRound();
  };
  const nextRound = () => {
    if (++round > 3) {
      const seconds = (performance.now() - startedAt) / 1000;
      log('done fps=' + Math.round((frames - framesAtStart) / seconds));
      return;
    }
    const id = 'round-' + round;
    const now = performance.now();
    pending = { file: now, listing: now, barrier: now, terminal: now };
    askEveryKind(id, sessionId, round);
  };
  let startedAt = 0, framesAtStart = 0;
  const start = () => {
    if (frames < 30) return setTimeout(start, 100);
    startedAt = performance.now();
    framesAtStart = frames;
    log('asking');
    nextRound();
  };
  window.__pelko__ = {
    dispatch: function (event) {
      const p = event.payload || {};
      if (event.type === 'terminal/created' && !sessionId) {
        sessionId = p.sessionId;
        start();
      } else if (event.type === 'project/file/content' && p.path === 'notes.txt') {
        answer('file');
      } else if (event.type === 'project/explorer/directories' && p.requestId === 'round-' + round) {
        answer('listing');
      } else if (event.type === 'git/refresh/barrier' && p.requestId === 'round-' + round) {
        answer('barrier');
      } else if (event.type === 'terminal/output' && p.sessionId === sessionId) {
        output += atob(p.chunk);
        if (output.includes('pong' + round)) answer('terminal');
      }
    }
  };
  (window.__pelkoPendingEvents || []).forEach(window.__pelko__.dispatch);
)";

// With the cairo renderer (the main thread rasterises every frame) and a page that redraws the whole
// window every frame, answers that other threads hand to the main thread still come, three rounds in a
// row. Were the main thread's queue starved by the drawing, they would stop: the rounds have two
// minutes, far more than the slowest machine needs. How soon each answer comes is
// bench_window_renderers' target, not this test's.
TEST_F(PelkoWindowTest, AnswersKeepComingWhileThePageRedrawsEveryFrame) {
    test::writeFile(dir / "home/notes.txt", "some notes\n");
    const auto echo = dir / "home/echo.sh";
    test::writeFile(echo, "#!/bin/sh\nwhile read line; do echo \"pong${line#ping}\"; done\n");
    std::filesystem::permissions(echo, std::filesystem::perms(0755));
    config.cliSessions = {
        CLISessionConfig{Uuid::random(), "echo", (dir / "home").string(), echo.string(), std::nullopt}};
    config.enabledFeatures = {AppConfig::Feature::terminalV2};
    saveConfig();
    const std::string script = "  const PROJECT = '" + config.projects.front().id.string() + "';\n" +
                               test::drawingPageHelpers + drawingScript;
    writeTestPage(script.c_str());
    auto pelko = start({{"GSK_RENDERER", "cairo"}});
    ASSERT_TRUE(test::waitFor([&] { return hasMessage("asking"); }, 120s))
        << "the page never began to ask\n"
        << output() << test::readFile(logFile());
    ASSERT_TRUE(test::waitFor([&] { return hasMessage("done "); }, 120s))
        << "answers stopped coming while the page drew\n"
        << test::readFile(logFile());

    std::map<std::string, int> answered;
    for (const auto& message : pageMessages()) {
        if (message.rfind("answered ", 0) != 0) continue;
        ++answered[message.substr(9, message.find(' ', 9) - 9)];
        std::cout << "pelko: " << message << " ms\n";
    }
    for (const char* kind : {"file", "listing", "barrier", "terminal"}) EXPECT_EQ(answered[kind], 3) << kind;
    for (const auto& message : pageMessages()) {
        if (message.rfind("done ", 0) == 0) std::cout << "pelko: drawing at " << message.substr(5) << "\n";
    }
}

}  // namespace
}  // namespace pelko
