#include <gtest/gtest.h>

#include "platform/Base64.hpp"

namespace pelko {
namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(Base64Test, EncodesRfc4648Vectors) {
    const std::pair<const char*, const char*> vectors[] = {{"", ""},
                                                           {"f", "Zg=="},
                                                           {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},
                                                           {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="},
                                                           {"foobar", "Zm9vYmFy"}};
    for (auto [plain, encoded] : vectors) {
        EXPECT_EQ(base64::encode(std::string_view(plain)), encoded);
        EXPECT_EQ(base64::decode(encoded), bytesOf(plain)) << encoded;
    }
}

TEST(Base64Test, RoundTripsEveryByte) {
    std::vector<std::uint8_t> all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
    EXPECT_EQ(base64::decode(base64::encode(all)), all);
}

TEST(Base64Test, UrlFormHasNoPaddingAndUrlAlphabet) {
    std::vector<std::uint8_t> bytes{0xFB, 0xFF, 0xBF};
    EXPECT_EQ(base64::encode(bytes), "+/+/");
    EXPECT_EQ(base64::encodeUrl(bytes), "-_-_");
    EXPECT_EQ(base64::encodeUrl(bytesOf("f")), "Zg");
    EXPECT_EQ(base64::encodeUrl(bytesOf("fo")), "Zm8");
}

TEST(Base64Test, DecodingIsStrict) {
    for (const char* text : {"Zg", "Zg=", "Zm9", "Zg===", "Z===", "====", "Zm9v\n", " Zm9v", "Zm 9v",
                             "Zm9v====", "Zg==Zm9v", "Zm=v", "-_-_", "Zh==", "Zm9=", "Zm,v"}) {
        EXPECT_FALSE(base64::decode(text)) << text;
    }
}

}  // namespace
}  // namespace pelko
