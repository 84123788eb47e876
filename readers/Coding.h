#ifndef SELVANE_READERS_CODING_H_
#define SELVANE_READERS_CODING_H_

#include <cstdint>
#include <cstring>
#include <limits>

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

// True when v is a valid file position (0 .. 2^31-1); stores it in *out.
inline bool ToPosition(std::int64_t v, std::int32_t* out) {
  if (v < 0 || v > std::numeric_limits<std::int32_t>::max()) return false;
  *out = static_cast<std::int32_t>(v);
  return true;
}

#endif  // SELVANE_READERS_CODING_H_
