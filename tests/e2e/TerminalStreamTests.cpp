#include <gtest/gtest.h>

#include "e2e/PelkoWindowFixture.hpp"

namespace pelko {
namespace {

using namespace std::chrono_literals;
using test::PelkoWindowTest;

// Counts the session's output as the page decodes it and checks it line by line when the session
// exits. The acknowledgements that pace the session come from this page having run each event.
const char* const streamScript = R"(
  let text = '';
  let outputAfterExit = false;
  let exited = false;
  window.__pelko__ = {
    dispatch: function (event) {
      if (event.type === 'terminal/output') {
        if (exited) outputAfterExit = true;
        text += atob(event.payload.chunk);
      } else if (event.type === 'terminal/exit') {
        exited = true;
        const lines = text.split('\r\n');
        let ordered = lines.length === 300001 && lines[300000] === '';
        for (let i = 0; ordered && i < 300000; ++i) ordered = lines[i] === String(i + 1);
        log('exit ordered=' + ordered + ' bytes=' + text.length);
        setTimeout(() => log('late output=' + outputAfterExit), 500);
      }
    }
  };
  (window.__pelkoPendingEvents || []).forEach(window.__pelko__.dispatch);
)";

// More output than a session may leave undelivered: it only finishes if the real page's
// acknowledgements release it, and it arrives whole, in order, before the exit.
TEST_F(PelkoWindowTest, TerminalOutputStreamsThroughThePageInOrderBeforeTheExit) {
    const auto script = dir / "home/print.sh";
    test::writeFile(script, "#!/bin/sh\nexec seq 1 300000\n");
    std::filesystem::permissions(script, std::filesystem::perms(0755));
    CLISessionConfig session{Uuid::random(), "stream", (dir / "home").string(), script.string(),
                             std::nullopt};
    config.cliSessions = {session};
    config.enabledFeatures = {AppConfig::Feature::terminalV2};
    saveConfig();
    writeTestPage(streamScript);
    auto pelko = start();
    ASSERT_TRUE(test::waitFor([&] { return hasMessage("exit "); }, 120s)) << output();
    EXPECT_TRUE(hasMessage("exit ordered=true bytes=2288895")) << test::readFile(logFile());
    ASSERT_TRUE(test::waitFor([&] { return hasMessage("late output="); }, 20s));
    EXPECT_TRUE(hasMessage("late output=false"));
}

}  // namespace
}  // namespace pelko
