#include "tables/TableSnapshot.h"

// Built without the archive library: no archive opens, so no table inside
// one can be read.
selvane::TableStatus OpenDbcSnapshot(const selvane::FieldMap&,
                                     const std::vector<std::wstring>&,
                                     const std::string&,
                                     std::unique_ptr<CTableSnapshot>*) {
  return selvane::TableStatus::kFileUnopenable;
}
