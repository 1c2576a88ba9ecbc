#include "cli/unicode.h"

#include <algorithm>

#include <utf8proc.h>

#include "cli/byte_scan.h"

namespace vesk {
namespace {

constexpr utf8proc_int32_t kInvalid = -1;

struct Decoded {
  utf8proc_int32_t codepoint;  // kInvalid for a byte that starts no valid sequence
  size_t length;
};

Decoded decodeAt(std::string_view text, size_t at) {
  auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at);
  utf8proc_int32_t codepoint = kInvalid;
  auto n = utf8proc_iterate(bytes, static_cast<utf8proc_ssize_t>(text.size() - at), &codepoint);
  if (n <= 0) return {kInvalid, 1};
  return {codepoint, static_cast<size_t>(n)};
}

// Walks the character boundaries of `text`; calls `onBoundary(offset)` after each character and
// stops early when it returns false.
template <typename F>
void forEachCharacterEnd(std::string_view text, F onBoundary) {
  utf8proc_int32_t state = 0;
  utf8proc_int32_t previous = kInvalid;
  size_t at = 0;
  while (at < text.size()) {
    Decoded d = decodeAt(text, at);
    bool breaks = previous == kInvalid || d.codepoint == kInvalid ||
                  utf8proc_grapheme_break_stateful(previous, d.codepoint, &state);
    if (d.codepoint == kInvalid) state = 0;
    if (breaks && at > 0 && !onBoundary(at)) return;
    previous = d.codepoint;
    at += d.length;
  }
  if (at > 0) onBoundary(at);
}

bool isTrimmable(utf8proc_int32_t c) {
  return c == '\t' || (c != kInvalid && utf8proc_category(c) == UTF8PROC_CATEGORY_ZS);
}

}  // namespace

std::string lowercased(std::string_view text) {
  std::string lower;
  lower.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    Decoded d = decodeAt(text, at);
    if (d.codepoint == kInvalid) {
      lower.push_back(text[at]);
    } else if (d.codepoint == 0x130) {
      // The one unconditional lower-case mapping that is longer than one code point.
      lower.append("i\xcc\x87");
    } else {
      utf8proc_uint8_t buffer[4];
      auto n = utf8proc_encode_char(utf8proc_tolower(d.codepoint), buffer);
      lower.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    }
    at += d.length;
  }
  return lower;
}

std::string_view firstCharacters(std::string_view text, size_t count) {
  size_t end = 0;
  size_t seen = 0;
  if (count == 0) return text.substr(0, 0);
  forEachCharacterEnd(text, [&](size_t boundary) {
    end = boundary;
    return ++seen < count;
  });
  return text.substr(0, end);
}

size_t characterCount(std::string_view text) {
  size_t count = 0;
  forEachCharacterEnd(text, [&](size_t) { return ++count, true; });
  return count;
}

std::string_view trimmedSpaces(std::string_view text) {
  size_t begin = 0;
  size_t end = 0;  // one past the last byte that is kept
  for (size_t at = 0; at < text.size();) {
    Decoded d = decodeAt(text, at);
    if (!isTrimmable(d.codepoint)) {
      if (end == 0) begin = at;
      end = at + d.length;
    }
    at += d.length;
  }
  return end == 0 ? text.substr(0, 0) : text.substr(begin, end - begin);
}

bool isValidUtf8(std::string_view text) {
  for (size_t at = asciiPrefix(text); at < text.size(); at += asciiPrefix(text.substr(at))) {
    Decoded d = decodeAt(text, at);
    if (d.codepoint == kInvalid) return false;
    at += d.length;
  }
  return true;
}

void Utf8Check::arrived(std::string_view text) {
  // Back from the end to the last byte that begins a character: a sequence it begins that is not
  // whole yet waits for the next piece. Four continuation bytes in a row are invalid anyway.
  size_t end = text.size();
  for (size_t lead = end; lead > checked_ && end - lead < 4;) {
    auto byte = static_cast<unsigned char>(text[--lead]);
    if ((byte & 0xc0) == 0x80) continue;
    size_t length = byte < 0xc0 ? 1 : byte < 0xe0 ? 2 : byte < 0xf0 ? 3 : 4;
    if (end - lead < length) end = lead;
    break;
  }
  if (valid_ && end > checked_) valid_ = isValidUtf8(text.substr(checked_, end - checked_));
  checked_ = std::max(checked_, end);
}

bool Utf8Check::valid(std::string_view text) {
  if (valid_ && checked_ < text.size()) valid_ = isValidUtf8(text.substr(checked_));
  checked_ = text.size();
  return valid_;
}

std::string withVisibleControls(std::string_view text, LineBreaks breaks) {
  std::string shown;
  shown.reserve(text.size());
  auto escape = [&](std::string_view bytes) {
    for (unsigned char byte : bytes) {
      constexpr char kHex[] = "0123456789abcdef";
      shown.append("\\x").push_back(kHex[byte >> 4]);
      shown.push_back(kHex[byte & 0xf]);
    }
  };
  for (size_t at = 0; at < text.size();) {
    Decoded d = decodeAt(text, at);
    std::string_view character = text.substr(at, d.length);
    bool control = d.codepoint == kInvalid || d.codepoint < 0x20 ||
                   (d.codepoint >= 0x7f && d.codepoint < 0xa0);
    bool lineBreak = d.codepoint == '\n' || d.codepoint == '\t';
    if (control && !(lineBreak && breaks == LineBreaks::keep)) {
      escape(character);
    } else {
      shown.append(character);
    }
    at += d.length;
  }
  return shown;
}

}  // namespace vesk
