#ifndef SELVANE_READERS_DBCCURSOR_H_
#define SELVANE_READERS_DBCCURSOR_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include <SelvaneLibrary/DBParam.h>
#include <SelvaneLibrary/FieldAttr.h>

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
  static int Locate(const FieldMap& fields, std::int32_t index,
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
  template <typename OnNumber, typename OnText>
  int Scan(const DbcField& field, OnNumber&& onNumber, OnText&& onText,
           std::int64_t* at);
  // The field's position in record j; -1 when it names no position.
  std::int64_t FieldPosition(const DbcField& field, std::int64_t j) const;

  CReadWindow* records_;
  CReadWindow* strings_;
  DBCHeader_t header_{};
  std::string scratch_;  // a text the string window does not hold whole
};

// The one loop over the records. onText(j, pos) decides on the text at
// pos of record j: 1 stop, 0 go on, -1 fail.
template <typename OnNumber, typename OnText>
int CDbcCursor::Scan(const DbcField& field, OnNumber&& onNumber,
                     OnText&& onText, std::int64_t* at) {
  const std::int64_t count = ScanCount();
  const std::size_t width =
      field.kind == ValueKind::kString ? 4 : WidthOf(field.kind);
  for (std::int64_t j = 0; j < count; ++j) {
    *at = j;
    const std::int64_t pos = FieldPosition(field, j);
    const char* p = pos < 0 ? nullptr : records_->At(pos, width);
    if (p == nullptr) return -1;
    int verdict = 0;
    if (field.kind != ValueKind::kString) {
      verdict = onNumber(j, p, width) ? 1 : 0;
    } else {
      const std::int64_t text = TextPosition(DecodeInt32(p));
      verdict = text < 0 ? -1 : onText(j, text);
    }
    if (verdict != 0) return verdict;
  }
  *at = count;
  return 0;
}

template <typename Visit>
int CDbcCursor::VisitField(const DbcField& field, Visit&& visit,
                           std::int64_t* at) {
  return Scan(
      field, visit,
      [&](std::int64_t j, std::int64_t text) {
        const char* s = nullptr;
        std::size_t n = 0;
        if (TextAt(*strings_, text, scratch_, &s, &n) != 0) return -1;
        return visit(j, s, n) ? 1 : 0;
      },
      at);
}

#endif  // SELVANE_READERS_DBCCURSOR_H_
