#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Views into JSON text exactly as it was written, for what must go back to its sender byte for
// byte, or be shown in the order it came. The text must already be known to be valid JSON: these
// only find where its values begin and end.
namespace vesk::mcp {

struct RawMember {
  std::string_view key;    // the key's string token, quotes and escapes included
  std::string_view value;  // the value's text
};

// The members of the object that `object` holds, in the order written; none when it holds no
// object.
std::vector<RawMember> rawMembers(std::string_view object);

// The elements of the array that `array` holds, in order; none when it holds no array.
std::vector<std::string_view> rawElements(std::string_view array);

// The text of the member named `key`, the last one when it is written more than once, as a JSON
// reader keeps it; nothing when the object has none.
std::optional<std::string_view> rawMember(std::string_view object, std::string_view key);

// What a string token says, its escapes decoded.
std::string decodedString(std::string_view token);

// `value` without the spaces and line breaks between its tokens.
std::string compactJson(std::string_view value);

}  // namespace vesk::mcp
