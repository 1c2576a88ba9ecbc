#include "client/json_text.h"
#include "client/json_body.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(JsonTextTest, TextsAreWrittenAsJsonWritesThem) {
  const std::string image(5000, 'A');  // long enough to go to the socket from where it lies
  const struct {
    std::string text;
    JsonText kind;
    std::string written;  // as the body's "m"
  } cases[] = {
      {"", JsonText::plain, R"({"m":""})"},
      {"é — 😀 \x7f/", JsonText::plain, "{\"m\":\"é — 😀 \x7f/\"}"},
      {std::string("\"\\\b\f\n\r\t\x01\x1f\0é", 12), JsonText::needsEscapes,
       R"({"m":"\"\\\b\f\n\r\t\u0001\u001f\u0000é"})"},
      {image, JsonText::plain, "{\"m\":\"" + image + "\"}"},
      {image + "\n", JsonText::needsEscapes, "{\"m\":\"" + image + "\\n\"}"},
      {image + "\xc3", JsonText::notUtf8, ""},
      {"\xed\xa0\x80", JsonText::notUtf8, ""},
      {"\xc0\x80", JsonText::notUtf8, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(classifyJsonText(c.text), c.kind) << testing::PrintToString(c.text);
    JsonBody body;
    body.set("m", c.text);
    EXPECT_EQ(body.text().value_or(""), c.written);
  }
}

TEST(JsonTextTest, BodiesKeepTheOrderTheirMembersWereSetIn) {
  const std::string image(5000, 'B');
  JsonBody body;
  EXPECT_EQ(body.text(), "{}");
  body.set("name", "You");
  body.set("image", image);
  body.set("list", {"a", "", "\"c\""});
  body.set("name", "CI");  // replaces, where it stands
  auto written = body.write();
  ASSERT_TRUE(written);
  EXPECT_EQ(written->pieces.size(), 3u);
  EXPECT_EQ(written->pieces[1].data(), image.data());  // sent from where it lies, not copied
  EXPECT_EQ(body.text(), "{\"name\":\"CI\",\"image\":\"" + image + R"(","list":["a","","\"c\""]})");
}

}  // namespace
}  // namespace vesk
