#include <gtest/gtest.h>

#include <set>
#include <unordered_set>

#include "platform/Uuid.hpp"

namespace pelko {
namespace {

TEST(UuidTest, RandomIsVersion4AndRoundTrips) {
    std::set<Uuid> seen;
    for (int i = 0; i < 100; ++i) {
        Uuid id = Uuid::random();
        EXPECT_EQ(id.bytes()[6] >> 4, 4);
        EXPECT_EQ(id.bytes()[8] & 0xC0, 0x80);
        EXPECT_EQ(Uuid::parse(id.string()), id);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(UuidTest, WritesUpperCaseAndReadsEitherCase) {
    auto id = Uuid::parse("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->string(), "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");
    EXPECT_EQ(Uuid::parse("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"), id);
    EXPECT_EQ(Uuid().string(), "00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(std::hash<Uuid>{}(*id), std::hash<Uuid>{}(*Uuid::parse(id->string())));
}

TEST(UuidTest, AcceptsOnlyThe36CharacterForm) {
    for (const char* text :
         {"", "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4", "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D0",
          "{0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D}", "0A1B2C3D4E5F4A6B8C7D9E0F1A2B3C4D",
          "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4G", "0A1B2C3D_4E5F-4A6B-8C7D-9E0F1A2B3C4D",
          "0A1B2C3-D4E5F-4A6B-8C7D-9E0F1A2B3C4D", " A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"}) {
        EXPECT_FALSE(Uuid::parse(text)) << text;
    }
}

}  // namespace
}  // namespace pelko
