// The stored sign-in record and the sign-in status payload as they are written.
#include <gtest/gtest.h>

#include "github/GitOAuthStatusPayload.hpp"
#include "github/OAuthTokenRecord.hpp"

namespace pelko {
namespace {

TEST(OAuthTokenRecordJson, RoundTripsAndRejectsFractionalExpiry) {
    OAuthTokenRecord record{
        "secret-access", "secret-refresh", *Date::parseIso("2030-06-01T12:00:00Z"), {"repo", "user"},
        "bearer",        "octo",           "https://avatars.example/octo.png"};
    Json encoded = record.toJson();
    EXPECT_EQ(
        encoded.dump(),
        R"({"accessToken":"secret-access","refreshToken":"secret-refresh","expiresAt":"2030-06-01T12:00:00Z",)"
        R"("scope":["repo","user"],"tokenType":"bearer","accountLogin":"octo",)"
        R"("accountAvatarURL":"https://avatars.example/octo.png"})");
    EXPECT_EQ(OAuthTokenRecord::fromJson(encoded), record);
    encoded["expiresAt"] = "2030-06-01T12:00:00.5Z";
    EXPECT_THROW(OAuthTokenRecord::fromJson(encoded), DecodeError);
    encoded.erase("expiresAt");
    EXPECT_THROW(OAuthTokenRecord::fromJson(encoded), DecodeError);
}

TEST(GitOAuthStatusPayloadJson, OptionalFieldsAreLeftOutRatherThanNull) {
    EXPECT_EQ(
        (GitOAuthStatusPayload{"connected", GitOAuthAccountPayload{"octo", "u"}, "t", true, "r"}
             .toJson()
             .dump()),
        R"({"status":"connected","account":{"login":"octo","avatarUrl":"u"},"expiresAt":"t","refreshed":true,"reason":"r"})");
    EXPECT_EQ((GitOAuthStatusPayload{"disconnected", std::nullopt, std::nullopt, std::nullopt, std::nullopt}
                   .toJson()
                   .dump()),
              R"({"status":"disconnected"})");
}

}  // namespace
}  // namespace pelko
