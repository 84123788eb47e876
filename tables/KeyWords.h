#ifndef SELVANE_TABLES_KEYWORDS_H_
#define SELVANE_TABLES_KEYWORDS_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <SelvaneLibrary/DBParam.h>

#include "readers/Coding.h"
#include "readers/FieldValue.h"
#include "tables/KeyIndex.h"

// The index words of record values and of keys, alike for both formats.

// The word a record's value has in the index.
inline bool WordOf(ValueKind kind, const char* p, std::size_t n,
                   std::uint32_t* word) {
  switch (kind) {
    case ValueKind::kInteger:
      *word = CKeyIndex::IntegerWord(DecodeInt32(p));
      return true;
    case ValueKind::kByte:
      *word = CKeyIndex::IntegerWord(static_cast<signed char>(*p));
      return true;
    case ValueKind::kFloat:
      return CKeyIndex::FloatWord(DecodeFloat(p), word);
    case ValueKind::kString:
      break;
  }
  *word = CKeyIndex::TextWord(std::string_view(p, n));
  return true;
}

// The word of the key's value; false when no value can match (a NaN).
inline bool KeyWord(ValueKind kind, const DBParam_t& key, std::uint32_t* word) {
  switch (kind) {
    case ValueKind::kInteger:
    case ValueKind::kByte:
      *word = CKeyIndex::IntegerWord(key.intValue);
      return true;
    case ValueKind::kFloat:
      return CKeyIndex::FloatWord(key.floatValue, word);
    case ValueKind::kString:
      break;
  }
  *word = CKeyIndex::TextWord(key.strValue);
  return true;
}

#endif  // SELVANE_TABLES_KEYWORDS_H_
