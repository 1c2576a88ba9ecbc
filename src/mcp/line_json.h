#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// A line's JSON document, read as nlohmann::json::parse reads it, but with every text value
// longer than `longText` decoded once, straight to its place in the document: nlohmann's reader
// would hold such a text three times over (the line, its lexer's two buffers, the value), and a
// line at the 64 MiB limit is mostly one text, a card's image in Base64.
namespace vesk::mcp {

constexpr size_t kLongText = size_t{1} << 20;

// What becomes of the longest text once the rest of the document is read, so that a line at the
// limit is held once:
// - taken: decoded where it lies in the line, which the document then owns;
// - copied: decoded into the document beside the line, which a message still reads;
// - unread: checked but left as "", where nobody reads its value, only the line's own text.
enum class LongestText { taken, copied, unread };

// A discarded value when `line` is not JSON. `use` is asked of the document, whose longest text
// is still a stand-in (see holdsLongestText); it is taken only where `owner` holds the line whole.
nlohmann::json parseLineJson(std::string_view line, std::string* owner,
                             const std::function<LongestText(const nlohmann::json&)>& use,
                             size_t longText = kLongText);

// Whether `value` is or holds the longest text's stand-in, while `use` is asked.
bool holdsLongestText(const nlohmann::json& value);

}  // namespace vesk::mcp
