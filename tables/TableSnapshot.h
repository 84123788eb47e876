#ifndef SELVANE_TABLES_TABLESNAPSHOT_H_
#define SELVANE_TABLES_TABLESNAPSHOT_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <SelvaneLibrary/DBParam.h>
#include <SelvaneLibrary/SelvaneTable.h>
#include <SelvaneLibrary/detail/FieldAttr.h>

#include "readers/FieldValue.h"

// A table file's bytes, read whole.
struct TableBytes {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
  // Stretches [first, second) inside size that could not be read (a DBC
  // table's damaged sectors), in order and apart; their bytes are zeros.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> holes;

  // Where the readable stretch that holds pos ends: the next hole's start,
  // or size; pos itself when it lies in a hole or past size.
  std::size_t ReadableEnd(std::size_t pos) const {
    if (pos >= size) return pos;
    if (holes.empty()) return size;
    auto next = std::upper_bound(
        holes.begin(), holes.end(), pos,
        [](std::size_t p, const std::pair<std::uint32_t, std::uint32_t>& h) {
          return p < h.first;
        });
    if (next != holes.begin() && std::prev(next)->second > pos) return pos;
    return next == holes.end() ? size : next->first;
  }
};

// Zero bytes a WDB snapshot keeps after its data, for look-ups that load
// 32 bytes at a time (CWdbNumberPlace).
constexpr std::size_t kTablePadding = 32;

// Stores a value held in place (n bytes at p, a text without its NUL) as a
// query stores it: a text appended, the members as they were when memory runs
// out.
inline int StoreValue(ValueKind kind, const char* p, std::size_t n,
                      DBParam_t& out) {
  if (kind != ValueKind::kString) {
    StoreNumber(kind, p, out);
    return 0;
  }
  try {
    out.strValue.append(p, n);
  } catch (...) {
    return -1;
  }
  return 0;
}

// A table held in memory with its own copy of the definitions. Each
// operation reads the bytes through a record cursor of its own, so const
// operations may run on several threads at once. Nothing throws.
class CTableSnapshot {
 public:
  virtual ~CTableSnapshot() = default;

  virtual int Query(DBParam_t& key, DBParam_t& result) const = 0;
  virtual int FindAll(DBParam_t& key,
                      std::vector<std::int32_t>& records) const = 0;
  virtual std::int32_t RecordCount() const = 0;
  virtual std::int32_t FieldCount() const = 0;
  virtual int Read(std::int32_t record, DBParam_t& field) const = 0;
  virtual std::int32_t FieldType(std::int32_t index) const = 0;
  virtual int FieldIndex(const std::string& name) const = 0;
  virtual std::string FieldName(std::int32_t index) const = 0;
  // Bytes held: the table's, its record list's and every index built.
  virtual std::size_t MemoryBytes() const = 0;
};

// Reads the WDB file at path whole and makes a snapshot of it with these
// fields. kOpen, or why not.
selvane::TableStatus OpenWdbSnapshot(const selvane::FieldMap& fields,
                                     const std::wstring& path,
                                     std::unique_ptr<CTableSnapshot>* out);

// Reads the table from the first archive of the list that holds it.
selvane::TableStatus OpenDbcSnapshot(const selvane::FieldMap& fields,
                                     const std::vector<std::wstring>& archives,
                                     const std::string& tablePath,
                                     std::unique_ptr<CTableSnapshot>* out);

#endif  // SELVANE_TABLES_TABLESNAPSHOT_H_
