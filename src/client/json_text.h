#pragma once

#include <string>
#include <string_view>
#include <vector>

// Text going into a JSON string as nlohmann/json writes it (UTF-8 kept as it is, only what JSON
// requires escaped), at about the cost of reading it once: a card may carry a megabyte of image.
namespace vesk {

enum class JsonText {
  plain,         // goes in exactly as it is
  needsEscapes,  // valid UTF-8 holding a quote, a backslash or a control character
  notUtf8,       // cannot go into JSON at all
};

JsonText classifyJsonText(std::string_view text);

// Appends `text`, which must be valid UTF-8, escaped for the inside of a JSON string: \" \\ \b \f
// \n \r \t, other control characters as \u00XX, everything else as it is.
void appendEscapedJson(std::string& out, std::string_view text);

// Whether every byte is printable ASCII other than the quote and the backslash, checked with the
// widest vectors this processor has, or `width` bytes at a time: one of plainCheckWidths().
bool isPlainAscii(std::string_view text, size_t width = 0);
// The widths this processor can check with: 8 (a word at a time, everywhere) and, on x86-64, 16
// (SSE2), 32 (AVX2) and 64 (AVX-512) where it has them.
std::vector<size_t> plainCheckWidths();

}  // namespace vesk
