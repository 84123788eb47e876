#ifndef SELVANE_FUZZ_QUERYPREFIX_H_
#define SELVANE_FUZZ_QUERYPREFIX_H_

#include <SelvaneLibrary/DBParam.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The query choices that open a fuzz input, so that the fuzzer varies them
// together with the file that follows. Layout, kSize bytes:
//
//   0       flags (a target gives the bits their meaning)
//   1, 2    key and result index of the first query
//   3, 4    key and result index of the second query
//   5..8    key value: little-endian integer, also taken as a float's bits
//   9..12   key text: up to 4 bytes, ending at the first NUL
//
// An index byte 0x00..0x6F stands for 0..9 (modulo 10), 0x70..0x7F for the
// largest indexes (2^31-1 down), 0x80..0xFF for -128..-1.
class QueryPrefix {
 public:
  static constexpr std::size_t kSize = 13;
  static constexpr int kQueries = 2;

  // Takes the prefix off an input; false when the input is shorter.
  static bool Decode(const std::uint8_t* data, std::size_t size,
                     QueryPrefix* out);
  // The prefix bytes for the given choices (indexes 0..9 only).
  static std::string Encode(std::uint8_t flags,
                            const std::int32_t (&indexes)[2 * kQueries],
                            std::int32_t value, const std::string& text);

  std::uint8_t flags() const { return flags_; }
  // A fresh key or result record of query i, as a host would fill it.
  DBParam_t Key(int i) const;
  DBParam_t Result(int i) const;

 private:
  std::uint8_t flags_ = 0;
  std::int32_t indexes_[2 * kQueries] = {};
  std::int32_t value_ = 0;
  std::string text_;
};

#endif  // SELVANE_FUZZ_QUERYPREFIX_H_
