#include "client/json_value.h"

#include <vector>

#include "client/json_string.h"

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

Json parsedJson(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return Json(Json::value_t::discarded);
  return Json::parse(text, nullptr, /*allow_exceptions=*/false);
}

namespace {

std::optional<std::string> valueAsText(Json& value) {
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

}  // namespace

std::vector<std::optional<std::string>> jsonValues(std::string_view text,
                                                   std::initializer_list<std::string_view> keys) {
  std::vector<std::optional<std::string>> values(keys.size());
  auto document = parsedJson(text);
  if (!document.is_object()) return values;  // a parse failure is "discarded", not an object
  size_t i = 0;
  for (std::string_view key : keys) {
    auto member = document.find(key);
    if (member != document.end()) values[i] = valueAsText(*member);
    ++i;
  }
  return values;
}

std::optional<std::string> jsonValue(std::string_view text, std::string_view key) {
  return std::move(jsonValues(text, {key})[0]);
}

namespace {

using Span = JsonStringSpan;

constexpr size_t kUnsure = std::string_view::npos;

size_t skipSpace(std::string_view text, size_t at) {
  while (at < text.size() &&
         (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) {
    ++at;
  }
  return at;
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
        if (c != '"' || (at = skipJsonString(text, at, name)) == kUnsure) return std::nullopt;
        named = open.size() == 1 &&
                (name.escaped ? decodedJsonString(text, name) == key
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
          if ((at = skipJsonString(text, at, value)) == kUnsure) return std::nullopt;
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

}  // namespace

std::optional<std::string_view> jsonValueInPlace(std::string& text, std::string_view key) {
  if (auto span = findStringMember(text, key)) {
    char* value = text.data() + span->begin;
    return std::string_view(value, decodeJsonString(text, *span, value));
  }
  auto value = jsonValue(text, key);
  if (!value) return std::nullopt;
  text = std::move(*value);
  return text;
}

void keepOnly(std::string& text, std::string_view part) {
  const size_t size = part.size();
  text.erase(0, static_cast<size_t>(part.data() - text.data()));
  text.resize(size);
}

bool takeJsonValue(std::string& text, std::string_view key) {
  auto value = jsonValueInPlace(text, key);
  if (!value) return false;
  keepOnly(text, *value);
  return true;
}

}  // namespace vesk
