#include "client/json_string.h"

#include <cstring>
#include <optional>
#include <utility>

#include <utf8proc.h>

#include "cli/byte_scan.h"

namespace vesk {
namespace {

std::optional<unsigned> hex4(std::string_view text, size_t at) {
  if (at + 4 > text.size()) return std::nullopt;
  unsigned value = 0;
  for (size_t i = at; i < at + 4; ++i) {
    const char c = text[i];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return value;
}

// The code point of the \u escape at `at` (a surrogate pair taken whole) and the escape's length.
std::optional<std::pair<unsigned, size_t>> unicodeEscape(std::string_view text, size_t at) {
  auto first = hex4(text, at + 2);
  if (!first || (*first >= 0xDC00 && *first <= 0xDFFF)) return std::nullopt;
  if (*first < 0xD800 || *first > 0xDBFF) return std::pair{*first, size_t{6}};
  if (text.substr(at + 6, 2) != "\\u") return std::nullopt;
  auto second = hex4(text, at + 8);
  if (!second || *second < 0xDC00 || *second > 0xDFFF) return std::nullopt;
  return std::pair{0x10000 + ((*first - 0xD800) << 10) + (*second - 0xDC00), size_t{12}};
}

}  // namespace

size_t skipJsonString(std::string_view text, size_t at, JsonStringSpan& span) {
  span = {++at, 0, false};
  while (at < text.size()) {
    at += plainPrefix(text.substr(at));
    if (at == text.size()) break;
    const auto c = static_cast<unsigned char>(text[at]);
    if (c == '"') {
      span.end = at;
      return at + 1;
    }
    if (c < 0x20) return std::string_view::npos;
    if (c >= 0x80) {
      utf8proc_int32_t codepoint = 0;
      auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at),
                                static_cast<utf8proc_ssize_t>(text.size() - at), &codepoint);
      if (n <= 0) return std::string_view::npos;
      at += static_cast<size_t>(n);
    } else if (c != '\\') {
      ++at;
    } else {
      span.escaped = true;
      const char e = at + 1 < text.size() ? text[at + 1] : '\0';
      if (e == 'u') {
        auto escape = unicodeEscape(text, at);
        if (!escape) return std::string_view::npos;
        at += escape->second;
      } else if (std::string_view("\"\\/bfnrt").find(e) != std::string_view::npos && e != '\0') {
        at += 2;
      } else {
        return std::string_view::npos;
      }
    }
  }
  return std::string_view::npos;
}

size_t decodeJsonString(std::string_view text, const JsonStringSpan& span, char* out) {
  size_t written = 0;
  for (size_t at = span.begin; at < span.end;) {
    size_t escape = span.escaped ? text.find('\\', at) : span.end;
    if (escape > span.end) escape = span.end;
    // Where the text is decoded where it lies, its plain stretches before the first escape stay.
    if (out + written != text.data() + at)
      std::memmove(out + written, text.data() + at, escape - at);
    written += escape - at;
    at = escape;
    if (at == span.end) break;
    const char e = text[at + 1];
    if (e != 'u') {
      constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
      out[written++] = kTo[kFrom.find(e)];
      at += 2;
      continue;
    }
    auto [codepoint, length] = *unicodeEscape(text, at);
    written += static_cast<size_t>(
        utf8proc_encode_char(static_cast<utf8proc_int32_t>(codepoint),
                             reinterpret_cast<utf8proc_uint8_t*>(out + written)));
    at += length;
  }
  return written;
}

std::string decodedJsonString(std::string_view text, const JsonStringSpan& span) {
  std::string decoded(span.end - span.begin, '\0');
  decoded.resize(decodeJsonString(text, span, decoded.data()));
  return decoded;
}

}  // namespace vesk
