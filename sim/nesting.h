#pragma once

#include <cstddef>
#include <string_view>

// How deep a request body may nest. Parsing is iterative, but copying, comparing and printing a
// parsed value recurse once per level: a body nested without bound would overflow the stack.
namespace sim {

inline constexpr size_t kMaxNesting = 512;

// True when the JSON text holds a value more than `limit` levels deep, the outermost value
// counting as level 1 (so "[]" is 1 level deep, "[1]" and "[[]]" 2). Reads bytes only, without
// recursing, so it can answer before anything parses the text, and for text that does not parse.
bool nestsDeeperThan(std::string_view json, size_t limit = kMaxNesting);

}  // namespace sim
