#ifndef SELVANE_FIELDTYPE_H_
#define SELVANE_FIELDTYPE_H_

#include <cstdint>

namespace selvane {

// Type codes of a field, as the library writes them into DBParam_t::type.
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

}  // namespace selvane

#endif  // SELVANE_FIELDTYPE_H_
