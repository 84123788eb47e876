// Built as C++11 by a host that uses the library's short names for its own
// things: the public headers must ask no more of it and clash with nothing.
enum HostCodes {
  kTypeNone,
  kTypeInteger,
  kTypeString,
  kTypeFloat,
  kTypeBit,
  kTypeByte,
  kTypeCString,
  kTypeAmount
};
enum FieldType { kHostField };
struct FieldAttr_t {
  int host;
};
typedef int FieldMap;
class CDBFieldManager {};

#include <SelvaneLibrary/SelvaneLibrary.h>

static_assert(__cplusplus == 201103L, "the host is built as C++11");
static_assert(selvane::kTypeAmount == 6 && kTypeAmount == 7,
              "library and host codes stay apart");

int HostTypeOf(const DBParam_t& param) {
  return param.type == selvane::kTypeNone ? kTypeNone : param.type;
}
