#include "cli/visible_text.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

// Each character a display would hide or obey, and what a card shows in its place.
TEST(VisibleTextTest, WritesOutWhatADisplayWouldHideOrObey) {
  const std::pair<std::string, std::string> cases[] = {
      {"ls -la ~/", "ls -la ~/"},
      {"ça, 日本, 🙂, a\xcc\x81",
       "ça, 日本, 🙂, a\xcc\x81"},  // letters and marks are drawn
      {"a\nb\tc\rd\x1b[2Je\x7f", "a\\u{A}b\\u{9}c\\u{D}d\\u{1B}[2Je\\u{7F}"},  // C0, DEL
      {"\xc2\x85\xc2\x9b", "\\u{85}\\u{9B}"},                                  // C1
      {"\xe2\x80\xae\xe2\x81\xa6\xe2\x81\xa9\xe2\x80\xac\xe2\x80\x8e",         // bidi
       "\\u{202E}\\u{2066}\\u{2069}\\u{202C}\\u{200E}"},
      {"\xe2\x80\x8b\xe2\x80\x8d\xef\xbb\xbf\xc2\xad", "\\u{200B}\\u{200D}\\u{FEFF}\\u{AD}"},
      {"\xf3\xa0\x81\x81\xf3\xa0\x81\xbf", "\\u{E0041}\\u{E007F}"},             // tags
      {"\xe2\x80\xa8\xe2\x80\xa9", "\\u{2028}\\u{2029}"},                       // line, paragraph
      {"\xef\xb8\x8f\xe3\x85\xa4\xe1\x85\x9f", "\\u{FE0F}\\u{3164}\\u{115F}"},  // ignorable
      {"a\xc2\xa0"
       "b\xe3\x80\x80"
       "c\xe2\x80\x87",
       "a\\u{A0}b\\u{3000}c\\u{2007}"},               // spaces
      {"\xee\x80\x80\xcd\xb8", "\\u{E000}\\u{378}"},  // private use, unassigned
      {"x\xff", "x\xef\xbf\xbd"},                     // not UTF-8
      {"npm test" + std::string(8, ' ') + "!", "npm test        !"},
      {"npm test" + std::string(300, ' ') + "; rm", "npm test\\u{20}×300; rm"},
      {"a\xe2\x80\x8b\xe2\x80\x8b\xe2\x80\x8b"
       "b\n\n",
       "a\\u{200B}×3b\\u{A}×2"},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(visibleText(text), shown) << text;
}

TEST(VisibleTextTest, PiecesCountWhatTheyStandFor) {
  size_t characters = 0, width = 0;
  std::string plain;
  forEachVisiblePiece(
      "ab\xe2\x80\x8b\xe2\x80\x8b"
      "é" +
          std::string(9, ' '),
      [&](const VisiblePiece& piece) {
        characters += piece.characters;
        width += piece.width;
        if (piece.plain) plain += piece.shown;
      });
  EXPECT_EQ(characters, 2u + 2 + 1 + 9);
  EXPECT_EQ(width, 2u + 10 + 1 + 8);  // ab, \u{200B}×2, é, \u{20}×9
  EXPECT_EQ(plain, "abé");
  EXPECT_EQ(withThousands(0), "0");
  EXPECT_EQ(withThousands(999), "999");
  EXPECT_EQ(withThousands(3120), "3,120");
  EXPECT_EQ(withThousands(1234567), "1,234,567");
}

}  // namespace
}  // namespace vesk
