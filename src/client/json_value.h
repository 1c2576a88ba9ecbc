#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace vesk {

// The JSON document that is the whole of `text`, or a discarded value when `text` is anything
// else. nlohmann's reader ends its input at a NUL byte; here a NUL is junk like any other.
nlohmann::json parsedJson(std::string_view text);

// One member of the top-level JSON object in `text`, as text: a string as it is, a number in
// decimal, true and false as "1" and "0", an array or object as compact JSON. Nothing when the
// text is not a JSON object, has no such key, or the value is null.
std::optional<std::string> jsonValue(std::string_view text, std::string_view key);

// The same for each of `keys` (each a different one), in their order, from one reading of the text.
std::vector<std::optional<std::string>> jsonValues(std::string_view text,
                                                   std::initializer_list<std::string_view> keys);

// The same, taken out of `text` where it lies: `text` becomes the value and true comes back, or
// `text` stays as it was and false comes back when jsonValue gives nothing. A string answer of
// many megabytes is decoded in place instead of being held a second and a third time.
bool takeJsonValue(std::string& text, std::string_view key);

// The same value as a view of `text`, which it changes: a string is decoded where it lies, so an
// answer that is printed and dropped does not move at all.
std::optional<std::string_view> jsonValueInPlace(std::string& text, std::string_view key);

// Cuts `text` down to `part`, a view of it, without a second copy.
void keepOnly(std::string& text, std::string_view part);

}  // namespace vesk
