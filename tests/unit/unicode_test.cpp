#include "cli/unicode.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(UnicodeTest, Lowercased) {
  const std::pair<std::string, std::string> cases[] = {
      {"NOTIFY", "notify"},
      {"ÉCLAIR", "éclair"},
      {"ΣΟΦΙΑ", "σοφια"},
      {"İ", "i\xcc\x87"},
      {"ẞ", "ß"},
      {"\xff"
       "A\xc0",
       "\xff"
       "a\xc0"},
      {"\xed\xa0\x80Q", "\xed\xa0\x80q"},  // an encoded surrogate is invalid, kept as bytes
  };
  for (const auto& [text, lower] : cases) EXPECT_EQ(lowercased(text), lower) << text;
}

TEST(UnicodeTest, CharactersAreGraphemeClusters) {
  EXPECT_EQ(characterCount(""), 0u);
  EXPECT_EQ(characterCount("-e"), 2u);
  EXPECT_EQ(characterCount("-\xcc\x81"), 1u);                         // dash + combining acute
  EXPECT_EQ(characterCount("\xf0\x9f\x87\xab\xf0\x9f\x87\xb7"), 1u);  // a flag
  EXPECT_EQ(characterCount("\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb"), 1u);  // ZWJ sequence
  EXPECT_EQ(characterCount("\r\n"), 1u);
  EXPECT_EQ(characterCount("\xff\xfe"), 2u);  // each invalid byte on its own
  EXPECT_EQ(firstCharacters("-\xcc\x81x", 1), "-\xcc\x81");
  EXPECT_EQ(firstCharacters("ab", 5), "ab");
  EXPECT_EQ(firstCharacters("ab", 0), "");
}

TEST(UnicodeTest, TrimmedSpaces) {
  const std::pair<std::string, std::string> cases[] = {
      {" Yes ", "Yes"},
      {"\tNo\t", "No"},
      {"\xc2\xa0"
       "A\xe3\x80\x80",
       "A"},
      {"\nA\n", "\nA\n"},
      {" , ", ","},
      {"   ", ""},
      {"", ""},
      {"a b", "a b"},
  };
  for (const auto& [text, trimmed] : cases) EXPECT_EQ(trimmedSpaces(text), trimmed) << text;
}

TEST(UnicodeTest, ValidUtf8) {
  EXPECT_TRUE(isValidUtf8(""));
  EXPECT_TRUE(isValidUtf8("plain"));
  EXPECT_TRUE(isValidUtf8(std::string("nul\0inside", 10)));
  EXPECT_TRUE(isValidUtf8("é — ⌘ \xf0\x9f\x98\x80"));
  for (const char* bad : {"\xff", "\xc0\x80", "\xe0\x80\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                          "\xc3", "a\xe2\x82"}) {
    EXPECT_FALSE(isValidUtf8(bad)) << testing::PrintToString(bad);
  }
}

// A text that arrives in pieces is judged as the whole, wherever the pieces end: inside a
// character, between two, or where an invalid sequence starts or stops.
TEST(UnicodeTest, ValidUtf8InPieces) {
  for (std::string text :
       {"é — ⌘ \xf0\x9f\x98\x80.", "a\xe2\x82", "\xe2\x82\xac\x80", "\xc3\xa9\x80\x80\x80\x80z",
        "ab\xed\xa0\x80", "\xf4\x90\x80\x80x", "\xc3", "x\xff\xc3\xa9"}) {
    for (size_t first = 0; first <= text.size(); ++first) {
      for (size_t second = first; second <= text.size(); ++second) {
        Utf8Check check;
        check.arrived(std::string_view(text).substr(0, first));
        check.arrived(std::string_view(text).substr(0, second));
        EXPECT_EQ(check.valid(text), isValidUtf8(text))
            << testing::PrintToString(text) << " cut at " << first << " and " << second;
      }
    }
  }
}

TEST(UnicodeTest, ControlsAreMadeVisible) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain é — 😀\ttab\nline", "plain é — 😀\ttab\nline"},
      {"\x1b]0;owned\x07\x1b[2J", "\\x1b]0;owned\\x07\\x1b[2J"},
      {"No\rYes\r\n", "No\\x0dYes\\x0d\n"},
      {std::string("\0\x01\x1f\x20\x7e\x7f", 6), "\\x00\\x01\\x1f ~\\x7f"},
      {"\xc2\x80\xc2\x9b\xc2\x9f\xc2\xa0",
       "\\xc2\\x80\\xc2\\x9b\\xc2\\x9f\xc2\xa0"},               // C1, then NBSP
      {"\xff\xc3(\xed\xa0\x80", "\\xff\\xc3(\\xed\\xa0\\x80"},  // not UTF-8, byte by byte
  };
  for (const auto& [text, shown] : cases) {
    EXPECT_EQ(withVisibleControls(text), shown) << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace vesk
