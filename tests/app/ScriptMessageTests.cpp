#include <gtest/gtest.h>

#include "app/WebViewLogger.hpp"
#include "app/WorkspaceWebView.hpp"

namespace pelko {
namespace {

// The web engine writes a page string cut inside an emoji as a lone surrogate escape.
TEST(ScriptMessageTest, LoneSurrogatesBecomeReplacementCharacters) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"message":"cut \ud83d"})", "cut \xEF\xBF\xBD"},
        {R"({"message":"\udc00 low first"})", "\xEF\xBF\xBD low first"},
        {R"({"message":"\ud83d\ud83d\ude00"})", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        // An escaped backslash followed by the letters of an escape is plain text.
        {R"({"message":"\\ud800 \ud800"})", "\\ud800 \xEF\xBF\xBD"},
        {R"({"message":"\u00e9 \ud83d\ude00"})", "\xC3\xA9 \xF0\x9F\x98\x80"},
    };
    for (const auto& [body, message] : cases) {
        auto parsed = WorkspaceWebView::parseMessageBody(body);
        ASSERT_TRUE(parsed) << body;
        EXPECT_EQ((*parsed)["message"], message) << body;
    }
    EXPECT_FALSE(WorkspaceWebView::parseMessageBody(R"({"message":)"));
}

// The engine writes U+2028 and U+2029 into the message text as they are, and line breaks as escapes:
// either way the record stays one line.
TEST(ScriptMessageTest, ALogMessageWithLineBreaksMakesOneLine) {
    const std::string body =
        "{\"type\":\"webview/log\",\"source\":\"web\\n\xE2\x80\xA8\",\"message\":"
        "\"a\\r\\nb\xE2\x80\xA8"
        "c\xE2\x80\xA9\"}";
    auto parsed = WorkspaceWebView::parseMessageBody(body);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(WebViewLogger::lineForMessage(*parsed), R"([web\n\u2028] [info] a\r\nb\u2028c\u2029)");
}

}  // namespace
}  // namespace pelko
