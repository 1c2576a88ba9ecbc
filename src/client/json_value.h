#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesk {

// One member of the top-level JSON object in `text`, as text: a string as it is, a number in
// decimal, true and false as "1" and "0", an array or object as compact JSON. Nothing when the
// text is not a JSON object, has no such key, or the value is null.
std::optional<std::string> jsonValue(std::string_view text, std::string_view key);

}  // namespace vesk
