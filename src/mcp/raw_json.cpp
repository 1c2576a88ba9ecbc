#include "mcp/raw_json.h"

#include <nlohmann/json.hpp>

namespace vesk::mcp {
namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

size_t skipSpaces(std::string_view text, size_t at) {
  while (at < text.size() && isSpace(text[at])) ++at;
  return at;
}

// Where the string token that starts at `at` (on its opening quote) ends, past its closing quote.
size_t stringEnd(std::string_view text, size_t at) {
  for (++at; at < text.size(); ++at) {
    if (text[at] == '\\') {
      ++at;
    } else if (text[at] == '"') {
      return at + 1;
    }
  }
  return text.size();
}

// Where the value that starts at `at` ends. Brackets are counted, not followed: no recursion.
size_t valueEnd(std::string_view text, size_t at) {
  if (at >= text.size()) return at;
  if (text[at] == '"') return stringEnd(text, at);
  if (text[at] != '{' && text[at] != '[') {
    while (at < text.size() && !isSpace(text[at]) && text[at] != ',' && text[at] != '}' &&
           text[at] != ']') {
      ++at;
    }
    return at;
  }
  size_t depth = 0;
  while (at < text.size()) {
    const char c = text[at];
    if (c == '"') {
      at = stringEnd(text, at);
      continue;
    }
    if (c == '{' || c == '[') ++depth;
    if ((c == '}' || c == ']') && --depth == 0) return at + 1;
    ++at;
  }
  return at;
}

// Calls `each(at)` with the start of each item of the container that `text` holds, which opens
// with `open`; returns false when it holds none.
template <typename F>
bool forEachItem(std::string_view text, char open, F each) {
  size_t at = skipSpaces(text, 0);
  if (at >= text.size() || text[at] != open) return false;
  at = skipSpaces(text, at + 1);
  while (at < text.size() && text[at] != '}' && text[at] != ']') {
    const size_t end = each(at);
    if (end <= at) break;  // not JSON after all: stop rather than loop
    at = skipSpaces(text, end);
    if (at < text.size() && text[at] == ',') at = skipSpaces(text, at + 1);
  }
  return true;
}

}  // namespace

std::vector<RawMember> rawMembers(std::string_view object) {
  std::vector<RawMember> members;
  forEachItem(object, '{', [&](size_t at) {
    const size_t keyEnd = stringEnd(object, at);
    const size_t valueAt = skipSpaces(object, skipSpaces(object, keyEnd) + 1);  // past the colon
    const size_t end = valueEnd(object, valueAt);
    members.push_back({object.substr(at, keyEnd - at), object.substr(valueAt, end - valueAt)});
    return end;
  });
  return members;
}

std::vector<std::string_view> rawElements(std::string_view array) {
  std::vector<std::string_view> elements;
  forEachItem(array, '[', [&](size_t at) {
    const size_t end = valueEnd(array, at);
    elements.push_back(array.substr(at, end - at));
    return end;
  });
  return elements;
}

std::optional<std::string_view> rawMember(std::string_view object, std::string_view key) {
  std::optional<std::string_view> found;
  for (const auto& member : rawMembers(object)) {
    if (decodedString(member.key) == key) found = member.value;
  }
  return found;
}

std::string decodedString(std::string_view token) {
  if (token.size() >= 2 && token.find('\\') == std::string_view::npos) {
    return std::string(token.substr(1, token.size() - 2));
  }
  auto value = nlohmann::json::parse(token, nullptr, /*allow_exceptions=*/false);
  return value.is_string() ? value.get<std::string>() : std::string();
}

std::string compactJson(std::string_view value) {
  std::string compact;
  compact.reserve(value.size());
  for (size_t at = 0; at < value.size();) {
    if (value[at] == '"') {
      const size_t end = stringEnd(value, at);
      compact.append(value.substr(at, end - at));
      at = end;
    } else {
      if (!isSpace(value[at])) compact.push_back(value[at]);
      ++at;
    }
  }
  return compact;
}

}  // namespace vesk::mcp
