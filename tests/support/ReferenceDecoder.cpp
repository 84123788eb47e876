#include "tests/support/ReferenceDecoder.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace reference {
namespace {

// Positions in a table file run from 0 to 2^31-1.
constexpr std::int64_t kLastPosition = 0x7FFFFFFF;

bool IsPosition(std::int64_t pos) { return pos >= 0 && pos <= kLastPosition; }

// The bytes of a file, read with every bound checked.
class Bytes {
 public:
  explicit Bytes(const std::string& b) : b_(b) {}

  bool Has(std::int64_t pos, std::int64_t n) const {
    return IsPosition(pos) && pos + n <= static_cast<std::int64_t>(b_.size());
  }
  bool Int(std::int64_t pos, std::int32_t* v) const {
    if (!Has(pos, 4)) return false;
    std::uint32_t u = 0;
    for (int i = 3; i >= 0; --i) u = u << 8 | At(pos + i);
    std::memcpy(v, &u, 4);
    return true;
  }
  bool Float(std::int64_t pos, float* v) const {
    std::int32_t i = 0;
    if (!Int(pos, &i)) return false;
    std::memcpy(v, &i, 4);
    return true;
  }
  bool Byte(std::int64_t pos, std::int32_t* v) const {
    if (!Has(pos, 1)) return false;
    *v = static_cast<signed char>(At(pos));
    return true;
  }
  // The text at pos up to its NUL; *next is the position after the NUL.
  bool Text(std::int64_t pos, std::string* out, std::int64_t* next) const {
    for (std::int64_t p = pos; Has(p, 1); ++p) {
      if (At(p) == 0) {
        *next = p + 1;
        return true;
      }
      out->push_back(static_cast<char>(At(p)));
    }
    return false;
  }

 private:
  std::uint32_t At(std::int64_t pos) const {
    return static_cast<unsigned char>(b_[static_cast<std::size_t>(pos)]);
  }
  const std::string& b_;
};

// One value read from a file.
struct Value {
  std::int32_t i = 0;
  float f = 0.0f;
  std::string text;
};

enum class Kind { kInteger, kByte, kFloat, kText };

bool Matches(Kind kind, const Value& v, const DBParam_t& key) {
  switch (kind) {
    case Kind::kFloat:
      return v.f == key.floatValue;
    case Kind::kText:
      return v.text == key.strValue;
    default:
      return v.i == key.intValue;
  }
}

void Store(Kind kind, const Value& v, DBParam_t& result) {
  switch (kind) {
    case Kind::kFloat:
      result.floatValue = v.f;
      break;
    case Kind::kText:
      result.strValue += v.text;
      break;
    default:
      result.intValue = v.i;
      break;
  }
}

// Reads a number of the kind at pos (a text is never read here).
bool ReadNumber(const Bytes& b, Kind kind, std::int64_t pos, Value* v) {
  switch (kind) {
    case Kind::kFloat:
      return b.Float(pos, &v->f);
    case Kind::kByte:
      return b.Byte(pos, &v->i);
    default:
      return b.Int(pos, &v->i);
  }
}

// --- WDB ---------------------------------------------------------------

bool WdbKind(std::int32_t type, Kind* kind) {
  switch (type) {
    case selvane::kTypeInteger:
      *kind = Kind::kInteger;
      return true;
    case selvane::kTypeFloat:
      *kind = Kind::kFloat;
      return true;
    case selvane::kTypeByte:
      *kind = Kind::kByte;
      return true;
    case selvane::kTypeCString:
      *kind = Kind::kText;
      return true;
    default:
      return false;
  }
}

// From the start of a record's data, passes over entries 2 .. index-1 one
// by one; every step must land on a position.
bool WdbWalk(const Bytes& b, const std::vector<selvane::FieldAttr_t>& entries,
             std::int32_t index, std::int64_t* pos) {
  for (std::int32_t i = 2; i < index; ++i) {
    const selvane::FieldAttr_t& e = entries[static_cast<std::size_t>(i)];
    if (e.type == selvane::kTypeCString) {
      std::string skipped;
      if (!IsPosition(*pos) || !b.Text(*pos, &skipped, pos)) return false;
      continue;
    }
    *pos += e.size;
    if (!IsPosition(*pos)) return false;
    if (e.type == selvane::kTypeAmount) {
      *pos += e.skipbyte;
      if (!IsPosition(*pos)) return false;
    }
  }
  return true;
}

// The field index of a record that starts at start: its value and kind.
// For index 2 and up, *type is set before anything can fail.
bool WdbField(const Bytes& b, const std::vector<selvane::FieldAttr_t>& entries,
              std::int64_t start, std::int32_t index, std::int32_t* type,
              Kind* kind, Value* v) {
  if (index < 2) {
    *type = selvane::kTypeInteger;
    *kind = Kind::kInteger;
    return b.Int(start + 4 * index, &v->i);
  }
  *type = entries[static_cast<std::size_t>(index)].type;
  if (!WdbKind(*type, kind)) return false;
  std::int64_t pos = start + 8;
  if (!WdbWalk(b, entries, index, &pos)) return false;
  if (*kind != Kind::kText) return ReadNumber(b, *kind, pos, v);
  std::int64_t next = 0;
  return IsPosition(pos) && b.Text(pos, &v->text, &next);
}

}  // namespace

int QueryWdb(const std::string& file, const selvane::FieldMap& fields,
             DBParam_t& key, DBParam_t& result) {
  const Bytes b(file);
  if (file.size() < 20) return -1;  // no header: the file does not open
  const auto count = static_cast<std::uint32_t>(fields.size());
  if (static_cast<std::uint32_t>(key.fieldIndex) >= count ||
      static_cast<std::uint32_t>(result.fieldIndex) >= count) {
    return -1;
  }
  std::vector<selvane::FieldAttr_t> entries;
  for (const auto& f : fields) entries.push_back(f.second);

  std::int64_t start = 20;
  for (;;) {
    std::int32_t id = 0, length = 0;
    if (!b.Int(start, &id) || !b.Int(start + 4, &length)) return -1;
    std::int32_t type = 0;
    Kind kind = Kind::kInteger;
    Value v;
    const bool read =
        WdbField(b, entries, start, key.fieldIndex, &type, &kind, &v);
    if (key.fieldIndex >= 2) key.type = type;
    if (!read) return -1;
    if (Matches(kind, v, key)) {
      if (key.fieldIndex < 2) key.type = selvane::kTypeInteger;
      Value r;
      const bool ok =
          WdbField(b, entries, start, result.fieldIndex, &type, &kind, &r);
      result.type = type;
      if (!ok) return -1;
      Store(kind, r, result);
      return 0;
    }
    if (length <= -8) return -1;  // would not move on
    start += 8 + static_cast<std::int64_t>(length);
    if (!IsPosition(start)) return -1;
  }
}

// --- DBC ---------------------------------------------------------------

int QueryDbc(const std::string& table, const selvane::FieldMap& fields,
             DBParam_t& key, DBParam_t& result) {
  const Bytes b(table);
  std::int32_t count = 0, columns = 0, size = 0;
  if (table.size() < 20 || !b.Int(4, &count) || !b.Int(8, &columns) ||
      !b.Int(12, &size)) {
    return -1;  // no header: the table does not open
  }
  const auto names = [columns](std::int32_t i) {
    return i >= 0 && i < columns;
  };
  if (!names(key.fieldIndex) || !names(result.fieldIndex)) return -1;

  // A field's offset: the sizes of the fields before it, 4 for a position
  // the definitions skip. Its type: the listed one, integer for "none" or an
  // unlisted position.
  const auto offset_of = [&fields](std::int32_t index) {
    std::int64_t offset = 4 * static_cast<std::int64_t>(index);
    for (const auto& f : fields) {
      if (f.first >= 0 && f.first < index) offset += f.second.size - 4;
    }
    return offset;
  };
  const auto type_of = [&fields](std::int32_t index) {
    const auto it = fields.find(index);
    return it == fields.end() || it->second.type == selvane::kTypeNone
               ? std::int32_t{selvane::kTypeInteger}
               : it->second.type;
  };
  const auto kind_of = [](std::int32_t type) {
    switch (type) {
      case selvane::kTypeString:
        return Kind::kText;
      case selvane::kTypeFloat:
        return Kind::kFloat;
      case selvane::kTypeByte:
        return Kind::kByte;
      default:
        return Kind::kInteger;
    }
  };
  key.type = type_of(key.fieldIndex);
  result.type = type_of(result.fieldIndex);
  const std::int64_t key_offset = offset_of(key.fieldIndex);
  const std::int64_t result_offset = offset_of(result.fieldIndex);
  if (!IsPosition(key_offset) || !IsPosition(result_offset)) return -1;

  const std::int64_t block = 20 + static_cast<std::int64_t>(count) * size;
  // The field at pos: a number, or a string-block offset and its text.
  const auto read = [&](Kind kind, std::int64_t pos, Value* v) {
    if (!IsPosition(pos)) return false;
    if (kind != Kind::kText) return ReadNumber(b, kind, pos, v);
    std::int32_t offset = 0;
    std::int64_t next = 0;
    return b.Int(pos, &offset) && offset >= 0 && IsPosition(block + offset) &&
           b.Text(block + offset, &v->text, &next);
  };
  // With a record size of 0 every record is the same bytes: one decides.
  const std::int64_t records = count <= 0 ? 0 : size == 0 ? 1 : count;
  for (std::int64_t j = 0; j < records; ++j) {
    const std::int64_t start = 20 + j * size;
    Value v;
    if (!read(kind_of(key.type), start + key_offset, &v)) return -1;
    if (Matches(kind_of(key.type), v, key)) {
      Value r;
      if (!read(kind_of(result.type), start + result_offset, &r)) return -1;
      Store(kind_of(result.type), r, result);
      return 0;
    }
  }
  return -1;
}

}  // namespace reference
