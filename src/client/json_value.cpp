#include "client/json_value.h"

#include <vector>

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

}  // namespace vesk
