#include "cli/byte_scan.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && defined(__SSE2__)
#include <immintrin.h>
#define VESK_SSE2 1
// AVX2 and AVX-512, chosen at run time, so that the binary runs on any x86-64 processor.
#if defined(__linux__) && defined(__GNUC__)
#define VESK_WIDE_VECTORS 1
// glibc has read the processor's features before main: asking it costs no CPUID instruction,
// which a virtual machine traps at a cost of microseconds each, as the compiler's own check does.
#if __has_include(<sys/platform/x86.h>)
#ifdef __clang__
#define _Bool bool  // a C header: GCC reads its _Bool in C++ as bool, Clang must be told
#endif
#include <sys/platform/x86.h>
#ifdef __clang__
#undef _Bool
#endif
#define VESK_ASK_GLIBC 1
#endif
#endif
#endif
// Every arm64 processor has NEON, Apple Silicon included: chosen when the program is built.
#if defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#define VESK_NEON 1
#endif

namespace vesk {
namespace {

enum class Run { ascii, plain };

template <Run run>
constexpr bool isOrdinary(unsigned char c) {
  if constexpr (run == Run::ascii) return c < 0x80;
  return c >= 0x20 && c < 0x80 && c != '"' && c != '\\';
}

template <Run run>
size_t prefixBytes(const unsigned char* p, size_t n) {
  size_t i = 0;
  while (i < n && isOrdinary<run>(p[i])) ++i;
  return i;
}

// Eight bytes at a time: a byte that is not ordinary sets the high bit of its byte in `unusual`
// (the classic zero-byte tests, exact as to whether any byte does); the bytes of that word are
// then looked at one by one.
template <Run run>
size_t prefixWords(const unsigned char* p, size_t n) {
  constexpr std::uint64_t ones = 0x0101010101010101, highs = ones * 0x80;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    std::uint64_t unusual = w;
    if constexpr (run == Run::plain) {
      const std::uint64_t quote = w ^ (ones * '"'), backslash = w ^ (ones * '\\');
      unusual |=
          ((w - ones * 0x20) & ~w) | ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash);
    }
    if (unusual & highs) break;
  }
  return i + prefixBytes<run>(p + i, n - i);
}

#ifdef VESK_SSE2
template <Run run>
size_t prefixSse2(const unsigned char* p, size_t n) {
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    __m128i unusual = x;  // the high bit: 0x80 and above
    if constexpr (run == Run::plain) {
      // Signed, below 0x20 is a control character or a byte from 0x80 up.
      const __m128i below = _mm_cmplt_epi8(x, _mm_set1_epi8(0x20));
      const __m128i quote = _mm_cmpeq_epi8(x, _mm_set1_epi8('"'));
      const __m128i backslash = _mm_cmpeq_epi8(x, _mm_set1_epi8('\\'));
      unusual = _mm_or_si128(below, _mm_or_si128(quote, backslash));
    }
    if (const int mask = _mm_movemask_epi8(unusual)) {
      return i + static_cast<size_t>(std::countr_zero(static_cast<unsigned>(mask)));
    }
  }
  return i + prefixBytes<run>(p + i, n - i);
}
#endif

#ifdef VESK_NEON
template <Run run>
inline uint8x16_t unusual16(const unsigned char* p) {
  const uint8x16_t x = vld1q_u8(p);
  if constexpr (run == Run::ascii) return vcltzq_s8(vreinterpretq_s8_u8(x));
  // Signed, below 0x20 is a control character or a byte from 0x80 up.
  const uint8x16_t below = vcltq_s8(vreinterpretq_s8_u8(x), vdupq_n_s8(0x20));
  const uint8x16_t quote = vceqq_u8(x, vdupq_n_u8('"'));
  const uint8x16_t backslash = vceqq_u8(x, vdupq_n_u8('\\'));
  return vorrq_u8(below, vorrq_u8(quote, backslash));
}

// 64 bytes a turn, looked at closer only in the turn that holds an unusual byte. NEON has no
// instruction that gathers a comparison's high bits; narrowing each 16-bit lane by a shift of 4
// keeps 4 bits of every byte instead, so the first unusual byte is a quarter of the zero bits
// below the lowest set one.
template <Run run>
size_t prefixNeon(const unsigned char* p, size_t n) {
  size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    const uint8x16_t any =
        vorrq_u8(vorrq_u8(unusual16<run>(p + i), unusual16<run>(p + i + 16)),
                 vorrq_u8(unusual16<run>(p + i + 32), unusual16<run>(p + i + 48)));
    if (vmaxvq_u8(any) != 0) break;
  }
  for (; i + 16 <= n; i += 16) {
    const uint8x8_t nibbles = vshrn_n_u16(vreinterpretq_u16_u8(unusual16<run>(p + i)), 4);
    if (const std::uint64_t mask = vget_lane_u64(vreinterpret_u64_u8(nibbles), 0)) {
      return i + static_cast<size_t>(std::countr_zero(mask)) / 4;
    }
  }
  return i + prefixBytes<run>(p + i, n - i);
}
#endif

#ifdef VESK_WIDE_VECTORS
// A byte equals the entry for its low four bits (a byte from 0x80 up reads 0) only when it is a
// quote or a backslash: one shuffle and one comparison find both.
#define VESK_QUOTE_AND_BACKSLASH 1, 0, '"', 2, 5, 4, 7, 6, 9, 8, 11, 10, '\\', 12, 15, 14

template <Run run>
__attribute__((target("avx2"), always_inline)) inline __m256i unusual32(const unsigned char* p) {
  const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  if constexpr (run == Run::ascii) return x;
  const __m256i table = _mm256_setr_epi8(VESK_QUOTE_AND_BACKSLASH, VESK_QUOTE_AND_BACKSLASH);
  const __m256i below = _mm256_cmpgt_epi8(_mm256_set1_epi8(0x20), x);
  return _mm256_or_si256(below, _mm256_cmpeq_epi8(_mm256_shuffle_epi8(table, x), x));
}

// 128 bytes a turn, looked at closer only in the turn that holds an unusual byte.
template <Run run>
__attribute__((target("avx2"))) size_t prefixAvx2(const unsigned char* p, size_t n) {
  size_t i = 0;
  for (; i + 128 <= n; i += 128) {
    const __m256i any =
        _mm256_or_si256(_mm256_or_si256(unusual32<run>(p + i), unusual32<run>(p + i + 32)),
                        _mm256_or_si256(unusual32<run>(p + i + 64), unusual32<run>(p + i + 96)));
    if (_mm256_movemask_epi8(any) != 0) break;
  }
  for (; i + 32 <= n; i += 32) {
    if (const int mask = _mm256_movemask_epi8(unusual32<run>(p + i))) {
      return i + static_cast<size_t>(std::countr_zero(static_cast<unsigned>(mask)));
    }
  }
  return i + prefixBytes<run>(p + i, n - i);
}

template <Run run>
__attribute__((target("avx512bw"), always_inline)) inline __mmask64 unusual64(
    const unsigned char* p) {
  const __m512i x = _mm512_loadu_si512(p);
  if constexpr (run == Run::ascii) return _mm512_movepi8_mask(x);
  alignas(64) static constexpr char kTable[64] = {
      VESK_QUOTE_AND_BACKSLASH, VESK_QUOTE_AND_BACKSLASH, VESK_QUOTE_AND_BACKSLASH,
      VESK_QUOTE_AND_BACKSLASH};
  const __m512i table = _mm512_load_si512(kTable);
  return _mm512_cmplt_epi8_mask(x, _mm512_set1_epi8(0x20)) |
         _mm512_cmpeq_epi8_mask(_mm512_shuffle_epi8(table, x), x);
}

template <Run run>
__attribute__((target("avx512bw"))) size_t prefixAvx512(const unsigned char* p, size_t n) {
  size_t i = 0;
  for (; i + 256 <= n; i += 256) {
    if ((unusual64<run>(p + i) | unusual64<run>(p + i + 64) | unusual64<run>(p + i + 128) |
         unusual64<run>(p + i + 192)) != 0) {
      break;
    }
  }
  for (; i + 64 <= n; i += 64) {
    if (const __mmask64 mask = unusual64<run>(p + i)) {
      return i + static_cast<size_t>(std::countr_zero(static_cast<std::uint64_t>(mask)));
    }
  }
  return i + prefixBytes<run>(p + i, n - i);
}
#endif

template <Run run>
size_t prefix(std::string_view text, size_t width) {
  static const size_t widest = scanWidths().back();
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  switch (width == 0 ? widest : width) {
#ifdef VESK_WIDE_VECTORS
    case 64:
      return prefixAvx512<run>(p, text.size());
    case 32:
      return prefixAvx2<run>(p, text.size());
#endif
#ifdef VESK_SSE2
    case 16:
      return prefixSse2<run>(p, text.size());
#endif
#ifdef VESK_NEON
    case 16:
      return prefixNeon<run>(p, text.size());
#endif
    default:
      return prefixWords<run>(p, text.size());
  }
}

}  // namespace

size_t asciiPrefix(std::string_view text, size_t width) {
  return prefix<Run::ascii>(text, width);
}

size_t plainPrefix(std::string_view text, size_t width) {
  return prefix<Run::plain>(text, width);
}

std::vector<size_t> scanWidths() {
  std::vector<size_t> widths = {8};
#if defined(VESK_SSE2) || defined(VESK_NEON)
  widths.push_back(16);
#endif
#ifdef VESK_WIDE_VECTORS
#ifdef VESK_ASK_GLIBC
  if (CPU_FEATURE_ACTIVE(AVX2)) widths.push_back(32);
  if (CPU_FEATURE_ACTIVE(AVX512BW)) widths.push_back(64);
#else
  if (__builtin_cpu_supports("avx2")) widths.push_back(32);
  if (__builtin_cpu_supports("avx512bw")) widths.push_back(64);
#endif
#endif
  return widths;
}

}  // namespace vesk
