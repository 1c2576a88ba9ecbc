#include "client/json_text.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(JsonTextTest, EveryByteThatNeedsCareIsFoundWhereverItIs) {
  std::string plain;  // every byte that goes into JSON as it is, over a few vectors and a tail
  for (int c = 0x20; c < 0x80; ++c) {
    if (c != '"' && c != '\\') plain += static_cast<char>(c);
  }
  plain += plain + plain;
  EXPECT_TRUE(isPlainAscii(plain));
  EXPECT_TRUE(isPlainAscii(plain, /*portable=*/true));
  for (char special : {'\0', '\x1f', '"', '\\', '\x80', '\xff'}) {
    for (size_t at :
         {size_t{0}, size_t{31}, size_t{32}, size_t{127}, size_t{128}, plain.size() - 1}) {
      std::string text = plain;
      text[at] = special;
      EXPECT_FALSE(isPlainAscii(text)) << int(special) << " at " << at;
      EXPECT_FALSE(isPlainAscii(text, /*portable=*/true)) << int(special) << " at " << at;
    }
  }
}

TEST(JsonTextTest, TextsAreWrittenAsJsonWritesThem) {
  const struct {
    std::string text;
    JsonText kind;
    std::string written;
  } cases[] = {
      {"", JsonText::plain, R"("")"},
      {"é — 😀 \x7f/", JsonText::plain, "\"é — 😀 \x7f/\""},
      {std::string("\"\\\b\f\n\r\t\x01\x1f\0é", 12), JsonText::needsEscapes,
       R"("\"\\\b\f\n\r\t\u0001\u001f\u0000é")"},
      {std::string(100, 'a') + "\xc3", JsonText::notUtf8, ""},
      {"\xed\xa0\x80", JsonText::notUtf8, ""},
      {"\xc0\x80", JsonText::notUtf8, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(classifyJsonText(c.text), c.kind) << testing::PrintToString(c.text);
    std::string written;
    if (appendJsonString(written, c.text))
      EXPECT_EQ(written, c.written);
    else
      EXPECT_EQ(c.kind, JsonText::notUtf8);
  }
}

}  // namespace
}  // namespace vesk
