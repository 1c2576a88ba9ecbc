#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// JSON strings read where they lie in a document's text, as a strict reader takes them: valid
// escapes, surrogates in pairs, UTF-8, no control byte.
namespace vesk {

// Where a JSON string lies in the text: between its quotes.
struct JsonStringSpan {
  size_t begin = 0, end = 0;
  bool escaped = false;
};

// Past the string whose opening quote is at `at`, with where it lies in `span`; npos when it is
// not a valid one.
size_t skipJsonString(std::string_view text, size_t at, JsonStringSpan& span);

// Writes the string's decoded bytes from `out` on; they are never more than the text they come
// from, so `out` may lie in that same text, anywhere up to the string's first byte. Returns how
// many there are.
size_t decodeJsonString(std::string_view text, const JsonStringSpan& span, char* out);

std::string decodedJsonString(std::string_view text, const JsonStringSpan& span);

}  // namespace vesk
