#include "query/ArchiveQuery.h"

// Built without the archive library: no table inside an archive can be
// opened, so every such lookup fails and the records stay untouched.
int QueryArchiveTable(const selvane::FieldMap*, const std::wstring&,
                      const std::string&, DBParam_t&, DBParam_t&) noexcept {
  return -1;
}
