#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Text as a card must show it when a person decides by what they read: every character visible,
// in the order it is stored. Whatever a display would draw as nothing, or would use to move,
// hide or reorder other text, is written out as \u{X}, X its code point in upper-case hex:
// controls (C0, DEL, C1, line feeds and tabs included), format characters (bidirectional
// embeddings, overrides, isolates and marks, zero-width characters, the BOM, the soft hyphen,
// tag characters), the line and paragraph separators, every other default-ignorable code point
// (variation selectors and Hangul fillers included), every space but U+0020, and code points that
// are unassigned or for private use. A run of the same escaped character is written once with its
// count (\u{200B}×195), as is a run of more than 8 spaces (\u{20}×300). A byte that is not UTF-8
// is shown as U+FFFD.
namespace vesk {

// A stretch of text in its visible form.
struct VisiblePiece {
  std::string_view shown;
  size_t characters;  // of the original text (code points) that it stands for
  size_t width;       // characters (code points) of `shown`
  // Characters shown as they are, one for one, which may be cut between any two of them; an
  // escape is never cut.
  bool plain;
};

// Calls `piece` for each piece of `text`, in order.
void forEachVisiblePiece(std::string_view text,
                         const std::function<void(const VisiblePiece&)>& piece);

// The visible form of all of `text`.
std::string visibleText(std::string_view text);

// How many characters (code points) `text` has; each byte that is not UTF-8 counts as one.
size_t codePointCount(std::string_view text);

// A count as people read it: 3120 gives "3,120".
std::string withThousands(size_t count);

}  // namespace vesk
