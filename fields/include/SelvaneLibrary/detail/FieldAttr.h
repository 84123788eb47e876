#ifndef SELVANE_DETAIL_FIELDATTR_H_
#define SELVANE_DETAIL_FIELDATTR_H_

// Not interface: the layout CSelvaneObject holds by value, nothing to call.

#include <cstdint>
#include <map>
#include <string>

#include <SelvaneLibrary/FieldType.h>

namespace selvane {

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

}  // namespace selvane

#endif  // SELVANE_DETAIL_FIELDATTR_H_
