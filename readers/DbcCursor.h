#ifndef SELVANE_READERS_DBCCURSOR_H_
#define SELVANE_READERS_DBCCURSOR_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include <SelvaneLibrary/DBParam.h>
#include <SelvaneLibrary/detail/FieldAttr.h>

#include "readers/FieldValue.h"
#include "readers/ReadWindow.h"

// The 20-byte header of a DBC table, in file order.
struct DBCHeader_t {
  char magic[4];  // read, never compared
  std::int32_t recordCount;
  std::int32_t fieldCount;
  std::int32_t recordSize;
  std::int32_t stringBlockSize;  // held, not consulted
};

// Where a field lies in every record of a DBC table, and how it reads.
struct DbcField {
  std::int64_t offset = 0;  // from the record's start, 0 .. 2^31-1
  std::int32_t type = 0;    // the code a query reports for it
  ValueKind kind = ValueKind::kInteger;
};

// The records of a DBC table over two windows on the same bytes (a table in
// an archive, a file, or memory): one for the records, one for the string
// block, so that each keeps its bytes while a scan compares strings.
//
// Contract (the rules a query follows, for the query and for any other user
// such as an in-memory snapshot of the table):
// - ReadHeader reads the 20 bytes at 0; nothing in them is checked.
// - Locate(fields, i) gives field i, for 0 <= i < field count (NamesColumn):
//   its offset is the sum of the sizes the definitions give the listed
//   fields below i plus 4 for each unlisted position below i; its type is
//   the listed one, "none" and unlisted both reading as integer. "string"
//   reads a 4-byte offset into the string block (which starts right after
//   the records), "float" a float, "byte" one signed byte, every other code
//   a 4-byte integer. It fails when the offset names no position.
// - ScanCount: the records a scan visits in file order, 0 .. count-1; none
//   for a count of 0 or less, and only the first when the record size is 0
//   (every record is then the same bytes).
// - VisitField(field, visit, &at) visits the records in file order,
//   reading the field of each, and calls visit(record, p, n): for numbers p
//   holds the field's n bytes; for strings p, n is the text (NUL excluded),
//   in place or gathered. Returns 1 when visit returned true (stop) at record
//   *at, 0 after the last record (*at = ScanCount()), -1 when record *at
//   could not be read: a position outside 0 .. 2^31-1, bytes past the end,
//   a negative string offset, a string without its NUL. A scan never goes
//   on past a record that cannot be read. p is valid during the call only.
// - Find(field, key, &found): the first record whose field matches the key
//   (the rules of the value kinds); -1 when none does before the end or a
//   record that cannot be read.
// - Store(field, record, result) reads the field of that record into its
//   member of result (a string appended to strValue); on failure the value
//   members are as they were. The type members are the caller's to write.
// Nothing throws.
class CDbcCursor {
 public:
  static constexpr std::int64_t kHeaderSize = 20;

  // Neither window is owned; both must serve the same table.
  CDbcCursor(CReadWindow* records, CReadWindow* strings)
      : records_(records), strings_(strings) {}

  int ReadHeader();
  const DBCHeader_t& header() const { return header_; }

  bool NamesColumn(std::int32_t index) const {
    return index >= 0 && index < header_.fieldCount;
  }
  static int Locate(const selvane::FieldMap& fields, std::int32_t index,
                    DbcField* field);
  std::int64_t ScanCount() const;

  template <typename Visit>
  int VisitField(const DbcField& field, Visit&& visit, std::int64_t* at);
  int Find(const DbcField& field, const DBParam_t& key, std::int64_t* found);
  int Store(const DbcField& field, std::int64_t record, DBParam_t& result);

  // Where the text with this string-block offset starts; -1 for a negative
  // offset, which would point back into the records.
  std::int64_t TextPosition(std::int32_t offset) const;

 private:
  template <typename On>
  int Scan(const DbcField& field, std::size_t width, On&& on, std::int64_t* at);
  // The field's position in record j; -1 when it names no position.
  std::int64_t FieldPosition(const DbcField& field, std::int64_t j) const;

  // The texts the string window holds through a NUL: the held bytes from
  // start, up to and including the last NUL among them. Taken again after
  // anything that may refill the window, so that a record's test reads
  // nothing of the window's own state.
  struct HeldTexts {
    const char* data = nullptr;
    std::int64_t start = 0;
    std::uint64_t span = 0;  // 0: none
  };
  void TakeHeldTexts(std::int64_t pos);
  // The verdict on the text at pos from the held texts alone: 1 equal,
  // 0 not, kNotHeld when they do not hold it. comparable: the key holds no
  // NUL.
  static constexpr int kNotHeld = 2;
  int TestHeldText(std::int64_t pos, const std::string& key,
                   bool comparable) const;

  CReadWindow* records_;
  CReadWindow* strings_;
  HeldTexts held_;
  DBCHeader_t header_{};
  std::string scratch_;  // a text the string window does not hold whole
};

inline int CDbcCursor::TestHeldText(std::int64_t pos, const std::string& key,
                                    bool comparable) const {
  // One test for both ends: a position before start turns huge.
  const auto at = static_cast<std::uint64_t>(pos - held_.start);
  if (at >= held_.span) return kNotHeld;
  // The text ends inside the held texts; it equals the key when the key's
  // bytes, then a NUL, begin it.
  const char* s = held_.data + at;
  const std::size_t size = key.size();
  if (!comparable || size >= held_.span - at) return 0;
  // The last byte first: texts that share a prefix differ there soonest.
  return s[size] == '\0' &&
                 (size == 0 || (s[size - 1] == key[size - 1] &&
                                std::memcmp(s, key.data(), size) == 0))
             ? 1
             : 0;
}

// The one loop over the records: on(j, p) decides on the field's width
// bytes at p in record j, 1 stop, 0 go on, -1 fail. After each record read
// through the window, the records whose field the window already holds
// are visited in place.
template <typename On>
int CDbcCursor::Scan(const DbcField& field, std::size_t width, On&& on,
                     std::int64_t* at) {
  const std::int64_t count = ScanCount();
  const std::int64_t stride = header_.recordSize;
  std::int64_t j = 0;
  while (j < count) {
    *at = j;
    const std::int64_t pos = FieldPosition(field, j);
    const char* p = pos < 0 ? nullptr : records_->At(pos, width);
    if (p == nullptr) return -1;
    const char* held = nullptr;
    const auto room =
        static_cast<std::int64_t>(records_->HeldAt(pos, &held) - width);
    const std::int64_t run =
        stride > 0 ? std::min(count - j, room / stride + 1) : 1;
    for (std::int64_t i = 0; i < run; ++i) {
      const int verdict = on(j + i, p + i * stride);
      if (verdict != 0) {
        *at = j + i;
        return verdict;
      }
    }
    j += run;
  }
  *at = count;
  return 0;
}

template <typename Visit>
int CDbcCursor::VisitField(const DbcField& field, Visit&& visit,
                           std::int64_t* at) {
  if (field.kind != ValueKind::kString) {
    const std::size_t width = WidthOf(field.kind);
    return Scan(
        field, width,
        [&](std::int64_t j, const char* p) {
          return visit(j, p, width) ? 1 : 0;
        },
        at);
  }
  return Scan(
      field, 4,
      [&](std::int64_t j, const char* p) {
        const std::int64_t text = TextPosition(DecodeInt32(p));
        const char* s = nullptr;
        std::size_t n = 0;
        if (text < 0 || TextAt(*strings_, text, scratch_, &s, &n) != 0) {
          return -1;
        }
        return visit(j, s, n) ? 1 : 0;
      },
      at);
}

#endif  // SELVANE_READERS_DBCCURSOR_H_
