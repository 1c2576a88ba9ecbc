#pragma once

#include <cstddef>
#include <string_view>

// How deep a request body may nest. Parsing is iterative, but copying, comparing and printing a
// parsed value recurse once per level: a body nested without bound would overflow the stack.
namespace sim {

inline constexpr size_t kMaxNesting = 512;

// True when the JSON text nests arrays and objects more than `limit` levels deep, the outermost
// counting as level 1 (so "[]" and "[1]" are 1 level deep, "[[]]" 2), as vesk-mcp counts them.
// Reads bytes only, without recursing, so it can answer before anything parses the text, and for
// text that does not parse.
bool nestsDeeperThan(std::string_view json, size_t limit = kMaxNesting);

}  // namespace sim
