#include "cli/byte_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

namespace vesk {
namespace {

// Every position of AVX-512's turns of four vectors, of a vector after them and of a tail of 63
// bytes; each narrower width has its whole vectors and a tail of width - 1 in as many bytes.
constexpr size_t kLength = 256 + 64 + 63;

std::string everyPlainByte() {
  std::string plain;
  for (int c = 0x20; c < 0x80; ++c) {
    if (c != '"' && c != '\\') plain += static_cast<char>(c);
  }
  return plain;
}

TEST(ByteScanTest, TheFirstUnusualByteIsFoundWhereverItIs) {
  // One byte over and over hides a missed byte that a mix of bytes would give away otherwise:
  // the word test also fires on some neighbours, and those are then looked at one by one.
  const std::string fills[] = {"a", "~", " ", "!", "]", "\x7f", everyPlainByte()};
  const char unusuals[] = {'"', '\\', '\0', '\x1f', '\x80', '\xff'};
  for (const std::string& fill : fills) {
    // The text lies between two runs of its fill, so a scanner that read anywhere but where it
    // stands would find only ordinary bytes there and run past the unusual one.
    std::string around;
    while (around.size() < 3 * kLength) around += fill;
    const std::string_view text = std::string_view(around).substr(kLength, kLength);
    for (size_t width : scanWidths()) {
      SCOPED_TRACE(testing::Message()
                   << "fill " << testing::PrintToString(fill.substr(0, 2)) << ", width " << width);
      ASSERT_EQ(plainPrefix(text, width), kLength);
      ASSERT_EQ(asciiPrefix(text, width), kLength);
      for (char unusual : unusuals) {
        const bool ascii = static_cast<unsigned char>(unusual) < 0x80;
        for (size_t at = 0; at < kLength; ++at) {
          const char kept = std::exchange(around[kLength + at], unusual);
          const size_t plain = plainPrefix(text, width), asciiRun = asciiPrefix(text, width);
          around[kLength + at] = kept;
          // The first miss says all; thousands more would hide it.
          ASSERT_TRUE(plain == at && asciiRun == (ascii ? kLength : at))
              << "byte " << int(static_cast<unsigned char>(unusual)) << " at " << at
              << ": plain run " << plain << ", ASCII run " << asciiRun;
        }
      }
    }
  }
}

// The 8-byte path is the fallback; every 64-bit processor vesk is built for has 16 bytes at a
// time (SSE2 on x86-64, NEON on arm64), and the test above goes through it.
TEST(ByteScanTest, SixteenBytesAtATimeOnEveryProcessorVeskShipsFor) {
#if defined(__x86_64__) || defined(__aarch64__)
  const auto widths = scanWidths();
  EXPECT_NE(std::find(widths.begin(), widths.end(), 16u), widths.end());
#endif
}

}  // namespace
}  // namespace vesk
