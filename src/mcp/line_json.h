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

// A discarded value when `line` is not JSON. When `owner` holds the line whole and `mayTake`
// agrees on the document, the longest text is decoded where it lies in `*owner`, which the
// document then owns: the line is gone, and a line at the limit is held once.
nlohmann::json parseLineJson(std::string_view line, std::string* owner,
                             const std::function<bool(const nlohmann::json&)>& mayTake,
                             size_t longText = kLongText);

}  // namespace vesk::mcp
