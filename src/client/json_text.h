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

}  // namespace vesk
