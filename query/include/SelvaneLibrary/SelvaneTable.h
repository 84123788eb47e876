#ifndef SELVANE_SELVANETABLE_H_
#define SELVANE_SELVANETABLE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <SelvaneLibrary/DBParam.h>
#include <SelvaneLibrary/Export.h>
#include <SelvaneLibrary/SelvaneObject.h>

namespace selvane {

// What the last Open of a table came to.
enum class TableStatus : std::int32_t {
  kOpen = 0,
  kClosed,            // never opened, closed, or moved from
  kNoDefinition,      // the definitions hold no table of that name
  kFileUnopenable,    // the file or archive cannot be opened
  kTableNotFound,     // no archive of the list holds the table
  kHeaderUnreadable,  // shorter than its 20-byte header
  kOutOfMemory,       // the table's bytes or its records did not fit
};

}  // namespace selvane

// A table read whole into memory once, with the definitions a query object
// holds for it at that moment. Every answer afterwards comes from memory and
// is the one QueryWDB or QueryDBC of that object would give on the bytes
// read at open. The object may be reloaded or destroyed after the open.
//
// The first Query or FindAll on a key field builds an index of that field;
// later ones are a hash look-up plus one field read. Const members may run
// on several threads at once. Every int result is 0 on success and -1 on
// failure; nothing throws.
class SELVANE_API CSelvaneTable {
 public:
  CSelvaneTable();
  CSelvaneTable(CSelvaneTable&& other) noexcept;
  CSelvaneTable& operator=(CSelvaneTable&& other) noexcept;
  ~CSelvaneTable();

  CSelvaneTable(const CSelvaneTable&) = delete;
  CSelvaneTable& operator=(const CSelvaneTable&) = delete;

  // A WDB cache file; its definition is found by the file name after the
  // last directory separator, as QueryWDB finds it.
  int OpenWDB(const CSelvaneObject& definitions, const std::wstring& filePath);
  // A DBC table inside an archive; its definition is found by the table
  // path after its first backslash, as QueryDBC finds it.
  int OpenDBC(const CSelvaneObject& definitions,
              const std::wstring& archivePath, const std::string& tablePath);
  // The first archive of the list that holds the table serves it (a client's
  // patch archives listed before its base archives).
  int OpenDBC(const CSelvaneObject& definitions,
              const std::vector<std::wstring>& archivePaths,
              const std::string& tablePath);
  void Close();
  bool IsOpen() const;
  // Why the last Open failed, or kOpen.
  selvane::TableStatus Status() const;
  static const char* StatusText(selvane::TableStatus status);

  // Same answer, and same writes to both records, as the query object's.
  int Query(DBParam_t& key, DBParam_t& result) const;
  // The indexes (from 0, in file order) of every record whose key field
  // holds the key's value, among the records a scan can test. Writes the
  // key's type as Query does. 0 when there is at least one.
  int FindAll(DBParam_t& key, std::vector<std::int32_t>& records) const;

  // Records Read can read: WDB, those whose framing words can be read until
  // the first that ends a scan; DBC, those the header counts whose first
  // byte lies inside the table (the first alone when records have no size).
  std::int32_t RecordCount() const;
  // Valid field indexes: DBC, the header's field count; WDB, the entries of
  // the field map.
  std::int32_t FieldCount() const;
  // Reads field field.fieldIndex of the record into field's type and value
  // member, as a query stores a result (text is appended). -1 when the
  // record or the index is out of range or the field cannot be read.
  int Read(std::int32_t record, DBParam_t& field) const;
  // The type code a query writes for this field (DBC: none and unlisted
  // read as integer; WDB: 0 and 1 are integers), or -1 out of range.
  std::int32_t FieldType(std::int32_t fieldIndex) const;
  // The first field index of that name, or -1.
  int FieldIndex(const std::string& name) const;
  // The name the definitions give the field (Undef_<position> where it has
  // no text), or "" where there is none.
  std::string FieldName(std::int32_t fieldIndex) const;
  // Bytes the table holds: its file's bytes, its record list and every
  // index built so far.
  std::size_t MemoryBytes() const;

 private:
  struct Impl;
  int Adopt(std::unique_ptr<Impl> impl, selvane::TableStatus status);

  std::unique_ptr<Impl> m_impl;
  selvane::TableStatus m_status = selvane::TableStatus::kClosed;
};

#endif  // SELVANE_SELVANETABLE_H_
