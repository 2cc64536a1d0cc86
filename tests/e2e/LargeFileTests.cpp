#include <gtest/gtest.h>
#include <unistd.h>

#include "bridge/ProjectFileOperations.hpp"
#include "e2e/PelkoWindowFixture.hpp"

namespace pelko {
namespace {

using namespace std::chrono_literals;
using test::PelkoWindowTest;

// Once the stored project is known, opens "zeros.bin" with large files allowed; once that is
// answered, opens "small.txt". Reports each file answer with its message or the content's length.
const char* const openScript = R"(
  let asked = false;
  const open = (path, allowLargeFile) =>
    post({ type: 'project/file/open', payload: { projectId: projectId, path: path, allowLargeFile: allowLargeFile } });
  window.__pelko__ = {
    dispatch: function (event) {
      if (event.type === 'app/config' && !asked && event.payload.projects.some((p) => p.id === projectId)) {
        asked = true;
        open('zeros.bin', true);
      }
      if (!event.type.startsWith('project/file/')) return;
      const p = event.payload;
      log('answer ' + event.type + ' ' + p.path + ' ' + (p.message || 'length ' + p.content.length));
      if (p.path === 'zeros.bin') open('small.txt', false);
    }
  };
  (window.__pelkoPendingEvents || []).forEach(window.__pelko__.dispatch);
)";

// The largest file the page may open, all NUL bytes (a zeroed disk image), makes an event script longer
// than the web view takes: it is refused, and the application answers the next request.
TEST_F(PelkoWindowTest, AFileWhoseEventTheWebViewCannotTakeIsRefusedAndTheNextRequestAnswered) {
    const auto zeros = dir / "home/zeros.bin";
    test::writeFile(zeros, "");
    ASSERT_EQ(::truncate(zeros.c_str(), ProjectFileOperations::hardLimitBytes), 0);  // sparse
    test::writeFile(dir / "home/small.txt", "still here");
    const std::string id = config.projects[0].id.string();
    writeTestPage(("const projectId = '" + id + "';\n" + openScript).c_str());
    auto pelko = start();

    ASSERT_TRUE(test::waitFor(
        [&] { return hasMessage("answer project/file/content small.txt") || !pelko->running(); }, 240s))
        << output() << test::readFile(logFile());
    EXPECT_TRUE(pelko->running()) << output();
    std::vector<std::string> answers;
    for (const auto& message : pageMessages())
        if (message.starts_with("answer ")) answers.push_back(message);
    const std::string refused = ProjectFileOperations::readTooLargeToSend(config.projects[0].id, "zeros.bin")
                                    .payload["message"]
                                    .get<std::string>();
    EXPECT_EQ(answers, (std::vector<std::string>{"answer project/file/error zeros.bin " + refused,
                                                 "answer project/file/content small.txt length 10"}));
}

}  // namespace
}  // namespace pelko
