#include "cli/visible_text.h"

#include <utf8proc.h>

#include <cstdio>

namespace vesk {
namespace {

// Fewer spaces than this in a row are shown as they are: indentation, alignment.
constexpr size_t kLongestPlainSpaces = 8;

constexpr std::string_view kReplacement = "\xef\xbf\xbd";  // U+FFFD

// Whether a display would draw `c` as nothing, or let it act on the text around it.
bool isHidden(utf8proc_int32_t c) {
  if (c == ' ') return false;
  if (c < 0x20 || c == 0x7f) return true;
  if (c < 0x7f) return false;
  const utf8proc_property_t* property = utf8proc_get_property(c);
  switch (property->category) {
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
    case UTF8PROC_CATEGORY_ZS:
    case UTF8PROC_CATEGORY_CN:
    case UTF8PROC_CATEGORY_CO:
    case UTF8PROC_CATEGORY_CS:
      return true;
    default:
      return property->ignorable;
  }
}

// "\u{202E}", with "×N" for a run of N.
std::string escaped(utf8proc_int32_t c, size_t run) {
  char text[48];
  int n = run > 1 ? std::snprintf(text, sizeof text, "\\u{%X}\xc3\x97%zu", static_cast<unsigned>(c),
                                  run)
                  : std::snprintf(text, sizeof text, "\\u{%X}", static_cast<unsigned>(c));
  return std::string(text, static_cast<size_t>(n));
}

}  // namespace

void forEachVisiblePiece(std::string_view text,
                         const std::function<void(const VisiblePiece&)>& piece) {
  size_t plainStart = 0;
  size_t plainCharacters = 0;
  auto flushPlain = [&](size_t end) {
    if (plainCharacters > 0) {
      piece({text.substr(plainStart, end - plainStart), plainCharacters, plainCharacters, true});
    }
    plainCharacters = 0;
  };
  auto atomic = [&](size_t at, std::string_view shown, size_t characters) {
    flushPlain(at);
    piece({shown, characters, codePointCount(shown), false});
  };

  size_t at = 0;
  while (at < text.size()) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte > ' ' && byte < 0x7f) {  // most of any text, one step each
      ++plainCharacters;
      ++at;
      continue;
    }
    if (byte == ' ') {
      size_t run = text.find_first_not_of(' ', at);
      run = (run == std::string_view::npos ? text.size() : run) - at;
      if (run > kLongestPlainSpaces) {
        atomic(at, escaped(' ', run), run);
        plainStart = at + run;
      } else {
        plainCharacters += run;
      }
      at += run;
      continue;
    }
    utf8proc_int32_t c = -1;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at);
    const auto length =
        utf8proc_iterate(bytes, static_cast<utf8proc_ssize_t>(text.size() - at), &c);
    if (length <= 0) {
      atomic(at, kReplacement, 1);
      plainStart = ++at;
    } else if (isHidden(c)) {
      const auto size = static_cast<size_t>(length);
      size_t run = 1;
      while (text.substr(at + run * size, size) == text.substr(at, size)) ++run;
      atomic(at, escaped(c, run), run);
      at += run * size;
      plainStart = at;
    } else {
      ++plainCharacters;
      at += static_cast<size_t>(length);
    }
  }
  flushPlain(at);
}

std::string visibleText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  forEachVisiblePiece(text, [&](const VisiblePiece& piece) { shown.append(piece.shown); });
  return shown;
}

size_t codePointCount(std::string_view text) {
  size_t count = 0;
  for (size_t at = 0; at < text.size();) {
    utf8proc_int32_t c;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at);
    const auto length =
        utf8proc_iterate(bytes, static_cast<utf8proc_ssize_t>(text.size() - at), &c);
    at += length > 0 ? static_cast<size_t>(length) : 1;
    ++count;
  }
  return count;
}

std::string withThousands(size_t count) {
  const std::string digits = std::to_string(count);
  std::string grouped;
  for (size_t at = 0; at < digits.size(); ++at) {
    if (at > 0 && (digits.size() - at) % 3 == 0) grouped.push_back(',');
    grouped.push_back(digits[at]);
  }
  return grouped;
}

}  // namespace vesk
