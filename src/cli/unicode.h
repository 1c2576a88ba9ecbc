#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text as a reader sees it. Command-line words arrive as raw bytes and may not be valid UTF-8:
// an invalid byte counts as a character of its own and is never altered.
namespace vesk {

// Full Unicode lower-case mapping (İ becomes i followed by U+0307); invalid bytes stay as they are.
std::string lowercased(std::string_view text);

// The first `count` characters (extended grapheme clusters) of `text`, or fewer if it is shorter.
std::string_view firstCharacters(std::string_view text, size_t count);

// The number of characters (extended grapheme clusters) in `text`.
size_t characterCount(std::string_view text);

// `text` without leading and trailing space separators (category Zs) and tabs; line breaks stay.
std::string_view trimmedSpaces(std::string_view text);

bool isValidUtf8(std::string_view text);

// isValidUtf8 of a text that arrives in pieces, each checked as it comes, while its bytes are
// still in the processor's cache rather than once the whole text is in memory.
class Utf8Check {
 public:
  // `text` is all that has arrived so far: checks what is new up to a character that the next
  // piece may still complete.
  void arrived(std::string_view text);
  // Once the whole text has arrived: whether all of it is valid UTF-8.
  bool valid(std::string_view text);

 private:
  size_t checked_ = 0;
  bool valid_ = true;
};

// Line feeds and tabs: kept, for text shown as lines, or escaped too, for text that must stay on
// one line.
enum class LineBreaks { keep, escape };

// `text` with each byte of a control character (C0, DEL, C1; line feed and tab as `breaks` says)
// and each byte that is not part of valid UTF-8 written as \xHH: what a terminal shows instead of
// obeying it.
std::string withVisibleControls(std::string_view text, LineBreaks breaks = LineBreaks::keep);

}  // namespace vesk
