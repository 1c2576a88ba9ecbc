#include "client/json_value.h"

#include <cstring>
#include <vector>

#include <utf8proc.h>

#include "cli/byte_scan.h"

#include <nlohmann/json.hpp>

namespace vesk {
namespace {

using Json = nlohmann::json;

// Compact JSON text of an array or object. nlohmann writes recursively, and an answer may nest a
// million levels deep, far past any stack; this walks the tree with a stack of its own and
// leaves only the scalars to nlohmann.
std::string compactJson(const Json& root) {
  struct Open {
    const Json* container;
    Json::const_iterator next;
  };
  std::string text;
  std::vector<Open> open;
  auto write = [&](const Json& value) {
    if (!value.is_structured() || value.empty()) {
      text += value.dump();
      return;
    }
    text += value.is_array() ? '[' : '{';
    open.push_back({&value, value.begin()});
  };

  write(root);
  while (!open.empty()) {
    Open& top = open.back();
    if (top.next == top.container->end()) {
      text += top.container->is_array() ? ']' : '}';
      open.pop_back();
      continue;
    }
    if (top.next != top.container->begin()) text += ',';
    auto member = top.next++;
    if (top.container->is_object()) text += Json(member.key()).dump() + ':';
    write(*member);  // may grow `open`: `top` is not used after this
  }
  return text;
}

}  // namespace

std::optional<std::string> jsonValue(std::string_view text, std::string_view key) {
  auto document = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!document.is_object()) return std::nullopt;  // a parse failure is "discarded", not an object
  auto member = document.find(key);
  if (member == document.end()) return std::nullopt;
  auto& value = *member;
  switch (value.type()) {
    case Json::value_t::string:
      return std::move(value.get_ref<std::string&>());  // the document is ours to take apart
    case Json::value_t::boolean:
      return value.get<bool>() ? "1" : "0";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
      return value.dump();  // the shortest decimal form
    case Json::value_t::array:
    case Json::value_t::object:
      // Parsing checked the text's UTF-8, so writing it back cannot fail.
      return compactJson(value);
    default:
      return std::nullopt;
  }
}

namespace {

// Where a JSON string lies in the text: between its quotes.
struct Span {
  size_t begin = 0, end = 0;
  bool escaped = false;
};

constexpr size_t kUnsure = std::string_view::npos;

size_t skipSpace(std::string_view text, size_t at) {
  while (at < text.size() &&
         (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) {
    ++at;
  }
  return at;
}

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

// Past the string whose opening quote is at `at`; kUnsure when it is not one.
size_t skipString(std::string_view text, size_t at, Span& span) {
  span = {++at, 0, false};
  while (at < text.size()) {
    at += plainPrefix(text.substr(at));
    if (at == text.size()) break;
    const auto c = static_cast<unsigned char>(text[at]);
    if (c == '"') {
      span.end = at;
      return at + 1;
    }
    if (c < 0x20) return kUnsure;
    if (c >= 0x80) {
      utf8proc_int32_t codepoint = 0;
      auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at),
                                static_cast<utf8proc_ssize_t>(text.size() - at), &codepoint);
      if (n <= 0) return kUnsure;
      at += static_cast<size_t>(n);
    } else if (c != '\\') {
      ++at;
    } else {
      span.escaped = true;
      const char e = at + 1 < text.size() ? text[at + 1] : '\0';
      if (e == 'u') {
        auto escape = unicodeEscape(text, at);
        if (!escape) return kUnsure;
        at += escape->second;
      } else if (std::string_view("\"\\/bfnrt").find(e) != std::string_view::npos && e != '\0') {
        at += 2;
      } else {
        return kUnsure;
      }
    }
  }
  return kUnsure;
}

// Past a number, true, false or null at `at`. Numbers whose reading could overflow (an exponent,
// or more digits than 64 bits hold) are left to the full parser, which refuses some of them.
size_t skipScalar(std::string_view text, size_t at) {
  for (std::string_view word : {"true", "false", "null"}) {
    if (text.substr(at, word.size()) == word) return at + word.size();
  }
  auto digits = [&] {
    size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    return at - start;
  };
  if (at < text.size() && text[at] == '-') ++at;
  if (at < text.size() && text[at] == '0') {
    ++at;
  } else if (size_t n = digits(); n == 0 || n > 18) {
    return kUnsure;
  }
  if (at < text.size() && text[at] == '.') {
    ++at;
    if (digits() == 0) return kUnsure;
  }
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) return kUnsure;
  return at;
}

std::string decodedString(std::string_view text, const Span& span);

// Reads the whole document the way the full parser would, without building it, and finds the
// last top-level member named `key`. Nothing unless the document is an object this reader is
// sure of and that member holds a string; the full parser then decides.
std::optional<Span> findStringMember(std::string_view text, std::string_view key) {
  enum class Next { firstKey, key, colon, value, firstValue, afterValue };
  std::string open = "{";  // the containers not yet closed
  size_t at = skipSpace(text, 0);
  if (at == text.size() || text[at] != '{') return std::nullopt;
  ++at;
  Next next = Next::firstKey;
  bool named = false;  // the value that comes next is a top-level member named `key`
  std::optional<Span> found;
  while (!open.empty()) {
    at = skipSpace(text, at);
    if (at == text.size()) return std::nullopt;
    const char c = text[at];
    const char closer = open.back() == '{' ? '}' : ']';
    if ((next == Next::firstKey || next == Next::firstValue || next == Next::afterValue) &&
        c == closer) {
      open.pop_back();
      ++at;
      next = Next::afterValue;
      continue;
    }
    switch (next) {
      case Next::firstKey:
      case Next::key: {
        Span name;
        if (c != '"' || (at = skipString(text, at, name)) == kUnsure) return std::nullopt;
        named = open.size() == 1 &&
                (name.escaped ? decodedString(text, name) == key
                              : text.substr(name.begin, name.end - name.begin) == key);
        next = Next::colon;
        break;
      }
      case Next::colon:
        if (c != ':') return std::nullopt;
        ++at;
        next = Next::value;
        break;
      case Next::value:
      case Next::firstValue:
        if (named) found.reset();
        if (c == '{' || c == '[') {
          open += c;
          ++at;
          next = c == '{' ? Next::firstKey : Next::firstValue;
        } else if (c == '"') {
          Span value;
          if ((at = skipString(text, at, value)) == kUnsure) return std::nullopt;
          if (named) found = value;
          next = Next::afterValue;
        } else {
          if ((at = skipScalar(text, at)) == kUnsure) return std::nullopt;
          next = Next::afterValue;
        }
        if (named && !found)
          return std::nullopt;  // a number, a list...: written by the full parser
        named = false;
        break;
      case Next::afterValue:
        if (c != ',') return std::nullopt;
        ++at;
        next = open.back() == '{' ? Next::key : Next::value;
        break;
    }
  }
  if (skipSpace(text, at) != text.size()) return std::nullopt;
  return found;
}

// Writes the string's decoded bytes from `out` on; they are never more than the text they come
// from, so `out` may be the start of that same text. Returns how many there are.
size_t decodeString(std::string_view text, const Span& span, char* out) {
  size_t written = 0;
  for (size_t at = span.begin; at < span.end;) {
    size_t escape = span.escaped ? text.find('\\', at) : span.end;
    if (escape > span.end) escape = span.end;
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

std::string decodedString(std::string_view text, const Span& span) {
  std::string decoded(span.end - span.begin, '\0');
  decoded.resize(decodeString(text, span, decoded.data()));
  return decoded;
}

}  // namespace

bool takeJsonValue(std::string& text, std::string_view key) {
  if (auto span = findStringMember(text, key)) {
    text.resize(decodeString(text, *span, text.data()));
    return true;
  }
  auto value = jsonValue(text, key);
  if (!value) return false;
  text = std::move(*value);
  return true;
}

}  // namespace vesk
