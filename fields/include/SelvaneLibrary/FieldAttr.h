#ifndef SELVANE_FIELDATTR_H_
#define SELVANE_FIELDATTR_H_

#include <cstdint>
#include <map>
#include <string>

// Type codes of a field, as stored in FieldAttr_t::type and DBParam_t::type.
enum FieldType : std::int32_t {
  kTypeNone = -1,
  kTypeInteger = 0,
  kTypeString = 1,
  kTypeFloat = 2,
  kTypeBit = 3,
  kTypeByte = 4,
  kTypeCString = 5,
  kTypeAmount = 6,
};

// One field of one table file, as the definition file gives it.
struct FieldAttr_t {
  std::string name;
  std::int32_t position = -1;
  std::int32_t type = kTypeNone;
  std::int32_t size = 0;
  std::int32_t skipbyte = 0;
};

// A table's fields keyed by position, in ascending order.
using FieldMap = std::map<std::int32_t, FieldAttr_t>;

#endif  // SELVANE_FIELDATTR_H_
