#ifndef SELVANE_READERS_CODING_H_
#define SELVANE_READERS_CODING_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#endif

// Little-endian decoding from unaligned bytes, and the position arithmetic
// both readers share. Positions in a table file are 32-bit signed: anything
// outside 0 .. 2^31-1 names no byte of the file.

inline std::uint32_t DecodeFixed32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::uint32_t>(b[0]) |
         (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) |
         (static_cast<std::uint32_t>(b[3]) << 24);
}

inline std::int32_t DecodeInt32(const char* p) {
  const std::uint32_t u = DecodeFixed32(p);
  std::int32_t v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

inline float DecodeFloat(const char* p) {
  const std::uint32_t u = DecodeFixed32(p);
  float v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

// The first NUL among the n bytes at p, or null: memchr, but the short
// texts of table records (names, mostly under 32 bytes) are found first in
// at most two 16-byte compares, without a call.
inline const char* FindNul(const char* p, std::size_t n) {
#if defined(__SSE2__) && defined(__GNUC__)
  const __m128i zero = _mm_setzero_si128();
  for (int block = 0; block < 2 && n >= 16; ++block) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto nuls =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero)));
    if (nuls != 0) return p + __builtin_ctz(nuls);
    p += 16;
    n -= 16;
  }
#endif
  return static_cast<const char*>(std::memchr(p, '\0', n));
}

// FindNul for a caller with a slower way out: the first NUL among the 32
// bytes at p (n >= 32 of them readable), without a call; null when they hold
// none.
inline const char* FindNulNear(const char* p) {
#if defined(__SSE2__) && defined(__GNUC__)
  const __m128i zero = _mm_setzero_si128();
  const auto low = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), zero)));
  const auto high = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), zero)));
  const unsigned nuls = low | (high << 16);
  return nuls != 0 ? p + __builtin_ctz(nuls) : nullptr;
#else
  return static_cast<const char*>(std::memchr(p, '\0', 32));
#endif
}

// True when v is a valid file position (0 .. 2^31-1); stores it in *out.
inline bool ToPosition(std::int64_t v, std::int32_t* out) {
  if (v < 0 || v > std::numeric_limits<std::int32_t>::max()) return false;
  *out = static_cast<std::int32_t>(v);
  return true;
}

#endif  // SELVANE_READERS_CODING_H_
