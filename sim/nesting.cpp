#include "nesting.h"

#include <cstring>

namespace sim {
namespace {

// Past the quote that closes the string `at` is in (just after its opening quote), or `end`.
const char* pastString(const char* at, const char* end) {
  const char* from = at;
  while (const void* found = std::memchr(from, '"', static_cast<size_t>(end - from))) {
    const char* quote = static_cast<const char*>(found);
    const char* run = quote;  // the backslashes right before it
    while (run > at && run[-1] == '\\') --run;
    if ((quote - run) % 2 == 0) return quote + 1;  // not escaped
    from = quote + 1;
  }
  return end;
}

}  // namespace

bool nestsDeeperThan(std::string_view json, size_t limit) {
  size_t open = 0;  // arrays and objects around the byte looked at
  const char* at = json.data();
  const char* const end = at + json.size();
  while (at < end) {
    const char c = *at++;
    switch (c) {
      case ' ':
      case '\t':
      case '\n':
      case '\r':
      case ',':
      case ':':
        continue;
      case ']':
      case '}':
        if (open > 0) --open;
        continue;
      default:
        break;
    }
    if (c == '[' || c == '{') {
      if (++open > limit) return true;
    } else if (c == '"') {
      at = pastString(at, end);
    }
  }
  return false;
}

}  // namespace sim
