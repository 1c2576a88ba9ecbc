#include "client/json_text.h"

#include <utf8proc.h>

#include "cli/byte_scan.h"

namespace vesk {
namespace {

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
size_t sequenceLength(std::string_view text) {
  utf8proc_int32_t codepoint = 0;
  auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                            static_cast<utf8proc_ssize_t>(text.size()), &codepoint);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

}  // namespace

JsonText classifyJsonText(std::string_view text) {
  JsonText kind = JsonText::plain;
  for (size_t at = plainPrefix(text); at < text.size(); at += plainPrefix(text.substr(at))) {
    if (static_cast<unsigned char>(text[at]) < 0x80) {  // a quote, backslash or control
      kind = JsonText::needsEscapes;
      ++at;
      continue;
    }
    const size_t length = sequenceLength(text.substr(at));
    if (length == 0) return JsonText::notUtf8;
    at += length;
  }
  return kind;
}

void appendEscapedJson(std::string& out, std::string_view text) {
  size_t run = 0;  // the start of the bytes that go in as they are
  for (size_t at = 0; at < text.size(); ++at) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text, run, at - run);
    run = at + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default: {
        constexpr char kHex[] = "0123456789abcdef";
        const char escaped[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xf]};
        out.append(escaped, sizeof escaped);
      }
    }
  }
  out.append(text, run, text.size() - run);
}

}  // namespace vesk
