#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// Runs of ordinary bytes, found many bytes at a time: an answer or a card may be megabytes of
// ASCII, and these scans are most of what vesk does with them. Each takes the widest vectors the
// processor has, or `width` bytes at a time: one of scanWidths().
namespace vesk {

// The length of the leading run of ASCII bytes (below 0x80).
size_t asciiPrefix(std::string_view text, size_t width = 0);

// The length of the leading run of bytes that go into a JSON string as they are: printable ASCII
// (0x20 to 0x7F) but the quote and the backslash.
size_t plainPrefix(std::string_view text, size_t width = 0);

// 8 (a word at a time, everywhere); 16 (NEON) on arm64; on x86-64, 16 (SSE2), 32 (AVX2) and 64
// (AVX-512BW) where the processor has them.
std::vector<size_t> scanWidths();

}  // namespace vesk
