#ifndef SELVANE_TESTS_FIELDS_FIELDSTESTUTIL_H_
#define SELVANE_TESTS_FIELDS_FIELDSTESTUTIL_H_

#include <SelvaneLibrary/detail/FieldAttr.h>
#include <SelvaneLibrary/detail/FieldManager.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

using DBFile = selvane::CDBFieldManager::DBFile_t;

// Beside the types, where gtest and std::map look for them.
namespace selvane {

inline bool operator==(const selvane::FieldAttr_t& a,
                       const selvane::FieldAttr_t& b) {
  return a.name == b.name && a.position == b.position && a.type == b.type &&
         a.size == b.size && a.skipbyte == b.skipbyte;
}

inline bool operator==(const DBFile& a, const DBFile& b) {
  return a.note == b.note && a.fields == b.fields;
}

inline void PrintTo(const selvane::FieldAttr_t& f, std::ostream* os) {
  *os << "{name \"" << f.name << "\", position " << f.position << ", type "
      << f.type << ", size " << f.size << ", skipbyte " << f.skipbyte << "}";
}

inline void PrintTo(const DBFile& file, std::ostream* os) {
  *os << "{note \"" << file.note << "\", fields";
  for (const auto& entry : file.fields) {
    *os << " " << entry.first << ":";
    PrintTo(entry.second, os);
  }
  *os << "}";
}

}  // namespace selvane

inline selvane::FieldAttr_t Attr(const std::string& name, std::int32_t position,
                                 std::int32_t type, std::int32_t size,
                                 std::int32_t skipbyte = 0) {
  selvane::FieldAttr_t field;
  field.name = name;
  field.position = position;
  field.type = type;
  field.size = size;
  field.skipbyte = skipbyte;
  return field;
}

// A field map keyed by each field's own position.
inline selvane::FieldMap MapOf(
    std::initializer_list<selvane::FieldAttr_t> fields) {
  selvane::FieldMap map;
  for (const selvane::FieldAttr_t& field : fields) map[field.position] = field;
  return map;
}

inline DBFile File(const std::string& note, selvane::FieldMap fields) {
  DBFile file;
  file.note = note;
  file.fields = std::move(fields);
  return file;
}

// What the manager holds under each name, nullopt where it holds nothing.
inline std::vector<std::optional<DBFile>> Snapshot(
    const selvane::CDBFieldManager& manager,
    const std::vector<std::string>& names) {
  std::vector<std::optional<DBFile>> result;
  for (const std::string& name : names) {
    const DBFile* file = manager.FindFile(name);
    result.push_back(file ? std::optional<DBFile>(*file) : std::nullopt);
  }
  return result;
}

#endif  // SELVANE_TESTS_FIELDS_FIELDSTESTUTIL_H_
