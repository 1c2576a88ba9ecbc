#include "client/json_text.h"

#include <cstdint>
#include <cstring>

#include <utf8proc.h>

#if defined(__x86_64__) && defined(__SSE2__)
#include <immintrin.h>
#define VESK_SSE2 1
// AVX2 and AVX-512, chosen at run time, so that the binary runs on any x86-64 processor.
#if defined(__linux__) && defined(__GNUC__)
#define VESK_WIDE_VECTORS 1
#endif
#endif

namespace vesk {
namespace {

constexpr bool isPlain(unsigned char c) {
  return c >= 0x20 && c < 0x80 && c != '"' && c != '\\';
}

bool isPlainTail(const unsigned char* p, size_t n) {
  bool plain = true;
  for (size_t i = 0; i < n; ++i) plain &= isPlain(p[i]);
  return plain;
}

// Eight bytes at a time: a byte at or above 0x80, one below 0x20, a quote or a backslash sets the
// high bit of its byte in `bad` (the classic zero-byte tests, exact as to whether any byte does).
bool isPlainWords(const unsigned char* p, size_t n) {
  constexpr std::uint64_t ones = 0x0101010101010101, highs = 0x8080808080808080;
  std::uint64_t bad = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    const std::uint64_t quote = w ^ (ones * '"'), backslash = w ^ (ones * '\\');
    bad |= w | ((w - ones * 0x20) & ~w) | ((quote - ones) & ~quote) |
           ((backslash - ones) & ~backslash);
  }
  return (bad & highs) == 0 && isPlainTail(p + i, n - i);
}

#ifdef VESK_SSE2
// Sixteen bytes at a time: the smallest and largest byte seen, and whether a quote or backslash
// was.
bool isPlainSse2(const unsigned char* p, size_t n) {
  const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
  __m128i low = _mm_set1_epi8(0x20), high = _mm_setzero_si128(), special = high;
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    low = _mm_min_epu8(low, x);
    high = _mm_max_epu8(high, x);
    special =
        _mm_or_si128(special, _mm_or_si128(_mm_cmpeq_epi8(x, quote), _mm_cmpeq_epi8(x, backslash)));
  }
  const bool lowOK =
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(low, _mm_set1_epi8(0x20)), low)) == 0xffff;
  const bool highOK =
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(high, _mm_set1_epi8(0x7f)), high)) == 0xffff;
  return lowOK && highOK && _mm_movemask_epi8(special) == 0 && isPlainTail(p + i, n - i);
}
#endif

#ifdef VESK_WIDE_VECTORS
// A byte equals the entry for its low four bits (a byte at or above 0x80 reads 0) only when it is
// a quote or a backslash: one shuffle and one comparison instead of two comparisons.
#define VESK_QUOTE_AND_BACKSLASH 1, 0, '"', 2, 5, 4, 7, 6, 9, 8, 11, 10, '\\', 12, 15, 14

#define VESK_AVX2_FUNCTION __attribute__((target("avx2"), always_inline)) inline
VESK_AVX2_FUNCTION void take32(const unsigned char* p, __m256i& low, __m256i& high,
                               __m256i& special) {
  const __m256i table = _mm256_setr_epi8(VESK_QUOTE_AND_BACKSLASH, VESK_QUOTE_AND_BACKSLASH);
  const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  low = _mm256_min_epu8(low, x);
  high = _mm256_max_epu8(high, x);
  special = _mm256_or_si256(special, _mm256_cmpeq_epi8(_mm256_shuffle_epi8(table, x), x));
}

__attribute__((target("avx2"))) bool isPlainAvx2(const unsigned char* p, size_t n) {
  __m256i low = _mm256_set1_epi8(0x20), high = _mm256_setzero_si256(), special = high;
  size_t i = 0;
  for (; i + 128 <= n; i += 128) {
    for (size_t k = 0; k < 128; k += 32) take32(p + i + k, low, high, special);
  }
  for (; i + 32 <= n; i += 32) take32(p + i, low, high, special);
  const __m256i lowest = _mm256_max_epu8(low, _mm256_set1_epi8(0x20));
  const __m256i highest = _mm256_min_epu8(high, _mm256_set1_epi8(0x7f));
  const bool lowOK = _mm256_movemask_epi8(_mm256_cmpeq_epi8(lowest, low)) == -1;
  const bool highOK = _mm256_movemask_epi8(_mm256_cmpeq_epi8(highest, high)) == -1;
  return lowOK && highOK && _mm256_movemask_epi8(special) == 0 && isPlainTail(p + i, n - i);
}

#define VESK_AVX512_FUNCTION __attribute__((target("avx512bw"), always_inline)) inline
VESK_AVX512_FUNCTION void take64(const unsigned char* p, __m512i& low, __m512i& high,
                                 __mmask64& special) {
  const __m512i table = _mm512_broadcast_i32x4(_mm_setr_epi8(VESK_QUOTE_AND_BACKSLASH));
  const __m512i x = _mm512_loadu_si512(p);
  low = _mm512_min_epu8(low, x);
  high = _mm512_max_epu8(high, x);
  special |= _mm512_cmpeq_epi8_mask(_mm512_shuffle_epi8(table, x), x);
}

__attribute__((target("avx512bw"))) bool isPlainAvx512(const unsigned char* p, size_t n) {
  __m512i low = _mm512_set1_epi8(0x20), high = _mm512_setzero_si512();
  __mmask64 special = 0;
  size_t i = 0;
  for (; i + 256 <= n; i += 256) {
    for (size_t k = 0; k < 256; k += 64) take64(p + i + k, low, high, special);
  }
  for (; i + 64 <= n; i += 64) take64(p + i, low, high, special);
  return _mm512_cmplt_epu8_mask(low, _mm512_set1_epi8(0x20)) == 0 &&
         _mm512_cmpgt_epu8_mask(high, _mm512_set1_epi8(0x7f)) == 0 && special == 0 &&
         isPlainTail(p + i, n - i);
}
#endif

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
size_t sequenceLength(std::string_view text) {
  utf8proc_int32_t codepoint = 0;
  auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                            static_cast<utf8proc_ssize_t>(text.size()), &codepoint);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

}  // namespace

std::vector<size_t> plainCheckWidths() {
  std::vector<size_t> widths = {8};
#ifdef VESK_SSE2
  widths.push_back(16);
#endif
#ifdef VESK_WIDE_VECTORS
  if (__builtin_cpu_supports("avx2")) widths.push_back(32);
  if (__builtin_cpu_supports("avx512bw")) widths.push_back(64);
#endif
  return widths;
}

bool isPlainAscii(std::string_view text, size_t width) {
  static const size_t widest = plainCheckWidths().back();
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  switch (width == 0 ? widest : width) {
#ifdef VESK_WIDE_VECTORS
    case 64:
      return isPlainAvx512(p, text.size());
    case 32:
      return isPlainAvx2(p, text.size());
#endif
#ifdef VESK_SSE2
    case 16:
      return isPlainSse2(p, text.size());
#endif
    default:
      return isPlainWords(p, text.size());
  }
}

JsonText classifyJsonText(std::string_view text) {
  if (isPlainAscii(text)) return JsonText::plain;
  JsonText kind = JsonText::plain;
  for (size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x80) {
      if (!isPlain(c)) kind = JsonText::needsEscapes;
      ++at;
      continue;
    }
    const size_t length = sequenceLength(text.substr(at));
    if (length == 0) return JsonText::notUtf8;
    at += length;
  }
  return kind;
}

void appendEscapedJson(std::string& out, std::string_view text) {
  size_t run = 0;  // the start of the bytes that go in as they are
  for (size_t at = 0; at < text.size(); ++at) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text, run, at - run);
    run = at + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default: {
        constexpr char kHex[] = "0123456789abcdef";
        const char escaped[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xf]};
        out.append(escaped, sizeof escaped);
      }
    }
  }
  out.append(text, run, text.size() - run);
}

}  // namespace vesk
