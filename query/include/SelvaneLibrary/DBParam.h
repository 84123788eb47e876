#ifndef SELVANE_DBPARAM_H_
#define SELVANE_DBPARAM_H_

#include <cstdint>
#include <limits>
#include <string>

// One field of a table record, as key or as result of a query.
// The host sets fieldIndex and, for a key, the value member of the field's
// type; the library writes type, and for a result the value member.
// Type codes: -1 none, 0 integer, 1 string, 2 float, 3 bit, 4 byte,
// 5 cstring, 6 amount (named in FieldType.h).
struct DBParam_t {
  std::int32_t fieldIndex = 0;
  std::int32_t type = -1;
  std::int32_t intValue = 0;
  std::string strValue;
  float floatValue = 0.0f;
};

// floatValue carries a table's 4-byte floats unchanged.
static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559,
              "float must be IEEE 754 single precision");

#endif  // SELVANE_DBPARAM_H_
