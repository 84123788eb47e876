#ifndef SELVANE_QUERY_RUNQUERY_H_
#define SELVANE_QUERY_RUNQUERY_H_

#include <SelvaneLibrary/DBParam.h>
#include <SelvaneLibrary/detail/FieldAttr.h>

// Opens, attaches the definitions, asks, and lets the reader close on the way
// out. Nothing may escape the library boundary: any exception becomes -1.
template <typename Reader, typename OpenFn>
int RunQuery(const selvane::FieldMap* fields, OpenFn open, DBParam_t& key,
             DBParam_t& result) noexcept {
  try {
    Reader reader;
    if (open(reader) != 0) return -1;
    if (reader.SetDefinition(fields) != 0) return -1;
    return reader.Query(key, result) == 0 ? 0 : -1;
  } catch (...) {
    return -1;
  }
}

#endif  // SELVANE_QUERY_RUNQUERY_H_
