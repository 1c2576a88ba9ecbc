#pragma once

#include <string>
#include <string_view>

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

// Appends `text` as a JSON string, quotes included; false, with `out` cut short, when `text` is
// not UTF-8.
bool appendJsonString(std::string& out, std::string_view text);

// Whether every byte is printable ASCII other than the quote and the backslash. Word at a time,
// or vectors at a time where the processor has them; `portable` forces the word-at-a-time path.
bool isPlainAscii(std::string_view text, bool portable = false);

}  // namespace vesk
