#include "client/json_value.h"

#include <nlohmann/json.hpp>

namespace vesk {

std::optional<std::string> jsonValue(std::string_view text, std::string_view key) {
  auto document = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!document.is_object()) return std::nullopt;  // a parse failure is "discarded", not an object
  auto member = document.find(key);
  if (member == document.end()) return std::nullopt;
  const auto& value = *member;
  switch (value.type()) {
    case nlohmann::json::value_t::string:
      return value.get<std::string>();
    case nlohmann::json::value_t::boolean:
      return value.get<bool>() ? "1" : "0";
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned:
    case nlohmann::json::value_t::number_float:
    case nlohmann::json::value_t::array:
    case nlohmann::json::value_t::object:
      // Numbers come out in their shortest decimal form; parsing checked the text's UTF-8, so
      // writing back cannot fail.
      return value.dump();
    default:
      return std::nullopt;
  }
}

}  // namespace vesk
