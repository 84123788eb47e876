#ifndef SELVANE_READERS_FIELDVALUE_H_
#define SELVANE_READERS_FIELDVALUE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include <SelvaneLibrary/DBParam.h>

#include "readers/Coding.h"
#include "readers/ReadWindow.h"

// How a field's bytes turn into a value; which type codes map to which kind
// is each reader's own.
enum class ValueKind { kInteger, kByte, kFloat, kString };

// Bytes a value of the kind takes; 0 for text, which runs to its NUL.
inline std::size_t WidthOf(ValueKind kind) {
  switch (kind) {
    case ValueKind::kInteger:
    case ValueKind::kFloat:
      return 4;
    case ValueKind::kByte:
      return 1;
    case ValueKind::kString:
      break;
  }
  return 0;
}

// The key test on a fixed-width value (width bytes at p): integers and
// bytes (widened with their sign) against intValue, floats by IEEE
// equality against floatValue (a NaN matches nothing, -0 matches +0).
inline bool NumberMatches(ValueKind kind, const char* p, const DBParam_t& key) {
  switch (kind) {
    case ValueKind::kInteger:
      return DecodeInt32(p) == key.intValue;
    case ValueKind::kByte:
      return static_cast<signed char>(*p) == key.intValue;
    case ValueKind::kFloat:
      return DecodeFloat(p) == key.floatValue;
    case ValueKind::kString:
      break;
  }
  return false;
}

// The text test: n bytes at p, without their NUL, equal strValue.
inline bool TextMatches(const char* p, std::size_t n, const DBParam_t& key) {
  return n == key.strValue.size() &&
         (n == 0 || std::memcmp(p, key.strValue.data(), n) == 0);
}

// Stores a fixed-width value (width bytes at p) into its member of result.
inline void StoreNumber(ValueKind kind, const char* p, DBParam_t& result) {
  switch (kind) {
    case ValueKind::kInteger:
      result.intValue = DecodeInt32(p);
      break;
    case ValueKind::kByte:
      result.intValue = static_cast<signed char>(*p);
      break;
    case ValueKind::kFloat:
      result.floatValue = DecodeFloat(p);
      break;
    case ValueKind::kString:
      break;
  }
}

// The text at pos through its NUL, tested against the key a piece at a
// time: a text without a NUL can be as long as the file and is never held
// whole. 1 matches, 0 does not, -1 the data ends before the NUL.
int MatchTextAt(CReadWindow& window, std::int64_t pos, const DBParam_t& key);

// Appends the text at pos, up to its NUL, to out. On failure (the data ends
// first, or out of memory) out is as it was. 0 or -1; nothing throws.
int AppendTextAt(CReadWindow& window, std::int64_t pos, std::string& out);

// The text at pos up to its NUL as one piece: in place when the window
// holds it through its NUL, else gathered into scratch. *text and *n stay
// valid until the next call on the window or scratch. 0 or -1.
int TextAt(CReadWindow& window, std::int64_t pos, std::string& scratch,
           const char** text, std::size_t* n);

#endif  // SELVANE_READERS_FIELDVALUE_H_
