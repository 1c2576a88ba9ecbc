#include "client/json_text.h"
#include "cli/byte_scan.h"
#include "client/json_body.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(ByteScanTest, TheFirstUnusualByteIsFoundWhereverItIs) {
  std::string plain;  // every byte that goes into JSON as it is, over a few vectors and a tail
  for (int c = 0x20; c < 0x80; ++c) {
    if (c != '"' && c != '\\') plain += static_cast<char>(c);
  }
  plain += plain + plain + plain;  // 376 bytes
  for (size_t width : scanWidths()) {
    EXPECT_EQ(plainPrefix(plain, width), plain.size()) << width;
    EXPECT_EQ(asciiPrefix(plain + "\x7f", width), plain.size() + 1) << width;
    for (char unusual : {'\0', '\x1f', '"', '\\', '\x80', '\xff'}) {
      for (size_t at : {0, 7, 63, 64, 255, 256, 375}) {
        std::string text = plain;
        text[at] = unusual;
        const bool ascii = static_cast<unsigned char>(unusual) < 0x80;
        EXPECT_EQ(plainPrefix(text, width), at) << int(unusual) << " at " << at << ", " << width;
        EXPECT_EQ(asciiPrefix(text, width), ascii ? text.size() : at)
            << int(unusual) << " at " << at;
      }
    }
  }
}

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
