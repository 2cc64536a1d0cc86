#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/Json.hpp"

namespace pelko {
namespace {

TEST(JsonTest, EncodesCompactlyWithEscapedSlashesInFieldOrder) {
    Json value;
    value["zeta"] = "a/b</script>";
    value["alpha"] = Json::array({1, 2.5, true, nullptr});
    value["mid"] = Json::object({{"path", "/usr/bin"}});
    EXPECT_EQ(json::encode(value),
              R"({"zeta":"a\/b<\/script>","alpha":[1,2.5,true,null],"mid":{"path":"\/usr\/bin"}})");
    EXPECT_EQ(json::parse(json::encode(value)), value);
}

TEST(JsonTest, ReplacesInvalidUtf8) {
    Json value = {{"name", std::string("ok\xff\xfe-\xc3")}, {"日本", "語"}};
    EXPECT_EQ(json::encode(value), "{\"name\":\"ok\xEF\xBF\xBD\xEF\xBF\xBD-\xEF\xBF\xBD\",\"日本\":\"語\"}");
}

TEST(JsonTest, RejectsNonFiniteNumbersAnywhere) {
    EXPECT_THROW(json::encode(Json(std::nan(""))), EncodeError);
    EXPECT_THROW(json::encode(Json{{"a", Json::array({1, std::numeric_limits<double>::infinity()})}}),
                 EncodeError);
    EXPECT_THROW(json::encode(Json{{"deep", {{"x", -std::numeric_limits<double>::infinity()}}}}),
                 EncodeError);
    EXPECT_EQ(json::encode(Json{{"x", 1e300}}), R"({"x":1e+300})");
}

TEST(JsonTest, ParseRejectsMalformedText) {
    for (const char* text :
         {"", "{", "{\"a\":1,}", "[1 2]", "nul", "{'a':1}", "1e400", "{\"a\":1} x", "\"\xff\"", "// c\n{}"}) {
        EXPECT_FALSE(json::parse(text)) << text;
    }
    auto parsed = json::parse(R"({"b":1,"a":{"c":[true]}})");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->begin().key(), "b");  // order kept on read as well
}

TEST(JsonTest, MissingAndNullAreAlikeAndWrongTypesThrow) {
    Json object = json::parse(R"({"s":"x","n":null,"b":true,"i":3,"o":{},"a":[],"f":2.5})").value();
    EXPECT_EQ(json::optString(object, "s"), "x");
    EXPECT_EQ(json::optString(object, "n"), std::nullopt);
    EXPECT_EQ(json::optString(object, "missing"), std::nullopt);
    EXPECT_THROW(json::optString(object, "i"), DecodeError);
    EXPECT_EQ(json::optBool(object, "b"), true);
    EXPECT_THROW(json::optBool(object, "i"), DecodeError);
    EXPECT_THROW(json::optBool(object, "s"), DecodeError);
    EXPECT_EQ(json::optNumber(object, "f"), 2.5);
    EXPECT_EQ(json::optNumber(object, "i"), 3.0);
    EXPECT_THROW(json::optNumber(object, "s"), DecodeError);
    EXPECT_NE(json::optObject(object, "o"), nullptr);
    EXPECT_EQ(json::optObject(object, "n"), nullptr);
    EXPECT_THROW(json::optObject(object, "a"), DecodeError);
    EXPECT_NE(json::optArray(object, "a"), nullptr);
    EXPECT_THROW(json::optArray(object, "o"), DecodeError);

    EXPECT_EQ(json::reqString(object, "s"), "x");
    EXPECT_THROW(json::reqString(object, "n"), DecodeError);
    EXPECT_THROW(json::reqString(object, "missing"), DecodeError);
    EXPECT_THROW(json::reqBool(object, "missing"), DecodeError);
    EXPECT_THROW(json::reqObject(object, "n"), DecodeError);
    EXPECT_THROW(json::reqArray(object, "missing"), DecodeError);
    EXPECT_TRUE(json::reqArray(object, "a").is_array());

    EXPECT_THROW(json::optString(Json::array(), "s"), DecodeError);
    EXPECT_THROW(json::optString(Json(), "s"), DecodeError);
}

TEST(JsonTest, IntegersAreRangeChecked) {
    Json object = json::parse(R"({"small":-7,"float":4.0,"frac":2.5,"huge":1e300,"max":9223372036854775807,
        "over":9223372036854775808,"min":-9223372036854775808,"two63":9.223372036854775808e18,"s":"1","b":true})")
                      .value();
    EXPECT_EQ(json::optInteger(object, "small"), -7);
    EXPECT_EQ(json::optInteger(object, "float"), 4);
    EXPECT_EQ(json::optInteger(object, "max"), INT64_MAX);
    EXPECT_EQ(json::optInteger(object, "min"), INT64_MIN);
    EXPECT_EQ(json::optInteger(object, "missing"), std::nullopt);
    for (const char* key : {"frac", "huge", "over", "two63", "s", "b"}) {
        EXPECT_THROW(json::optInteger(object, key), DecodeError) << key;
    }
    EXPECT_EQ(json::optInteger(object, "small", -7, 0), -7);
    EXPECT_THROW(json::optInteger(object, "small", 0, 10), DecodeError);
    EXPECT_THROW(json::optInteger(object, "float", 0, 3), DecodeError);

    EXPECT_EQ(json::reqInteger(object, "small"), -7);
    EXPECT_THROW(json::reqInteger(object, "missing"), DecodeError);
    EXPECT_THROW(json::reqInteger(object, "frac"), DecodeError);
    EXPECT_THROW(json::reqInteger(object, "small", 0, 10), DecodeError);
}

TEST(JsonTest, UuidsAndStringArrays) {
    Json object = {{"id", "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"},
                   {"bad", "{0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D}"},
                   {"num", 1}};
    EXPECT_EQ(json::reqUuid(object, "id").string(), "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");
    EXPECT_EQ(json::optUuid(object, "missing"), std::nullopt);
    EXPECT_THROW(json::optUuid(object, "bad"), DecodeError);
    EXPECT_THROW(json::optUuid(object, "num"), DecodeError);
    EXPECT_THROW(json::reqUuid(object, "missing"), DecodeError);
    EXPECT_EQ(json::asUuid(object["id"]), json::reqUuid(object, "id"));
    EXPECT_THROW(json::asUuid(object["num"]), DecodeError);

    EXPECT_EQ(json::asStringArray(Json::array({"a", "b"})), (std::vector<std::string>{"a", "b"}));
    EXPECT_THROW(json::asStringArray(Json::array({"a", 1})), DecodeError);
    EXPECT_THROW(json::asStringArray(Json::array({"a", nullptr})), DecodeError);
    EXPECT_THROW(json::asStringArray(Json("a")), DecodeError);
    EXPECT_THROW(json::asString(Json(1)), DecodeError);
}

TEST(JsonTest, PageFieldReadersReadAWrongTypeAsAbsent) {
    Json object = json::parse(R"({"s":"x","b":true,"i":7,"f":4.0,"frac":2.5,"huge":1e300,"n":null,
        "id":"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d","badId":"nope","list":["a","b"],"mixed":["a",1],
        "o":{"k":1}})")
                      .value();
    const Json* p = &object;
    EXPECT_EQ(json::integerField(p, "f"), 4);
    EXPECT_EQ(json::integerField(p, "i", 0, 5), std::nullopt);
    EXPECT_EQ(json::uuidField(p, "id")->string(), "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");
    EXPECT_NE(json::presentField(p, "n"), nullptr);
    EXPECT_EQ(json::field(p, "n"), nullptr);

    // Never a coercion, never a throw: a wrong type, null, a missing key or a payload that is not an
    // object all read as absent.
    EXPECT_EQ(json::stringField(p, "i"), std::nullopt);
    EXPECT_EQ(json::boolField(p, "i"), std::nullopt);
    EXPECT_EQ(json::integerField(p, "frac"), std::nullopt);
    EXPECT_EQ(json::integerField(p, "huge"), std::nullopt);
    EXPECT_EQ(json::integerField(p, "s"), std::nullopt);
    EXPECT_EQ(json::numberField(p, "b"), std::nullopt);
    EXPECT_EQ(json::uuidField(p, "badId"), std::nullopt);
    EXPECT_EQ(json::stringArrayField(p, "mixed"), std::nullopt);
    EXPECT_EQ(json::objectField(p, "list"), nullptr);
    EXPECT_EQ(json::arrayField(p, "o"), nullptr);
    EXPECT_EQ(json::stringField(p, "n"), std::nullopt);
    EXPECT_EQ(json::stringField(p, "missing"), std::nullopt);
    Json array = Json::array({"s"});
    EXPECT_EQ(json::stringField(&array, "s"), std::nullopt);
    EXPECT_EQ(json::stringField(nullptr, "s"), std::nullopt);
    EXPECT_EQ(json::presentField(nullptr, "s"), nullptr);
}

// The bound itself is checked where page values are read: analytics and the web view's log.
TEST(JsonTest, DepthCountsArraysAndObjectsAlike) {
    EXPECT_FALSE(json::nestsDeeperThan(Json(1), 0));
    EXPECT_TRUE(json::nestsDeeperThan(Json::array(), 0));
    EXPECT_FALSE(json::nestsDeeperThan(Json{{"a", Json::array({1})}}, 2));
    EXPECT_TRUE(json::nestsDeeperThan(Json{{"a", Json::array({Json::object()})}}, 2));
}

}  // namespace
}  // namespace pelko
