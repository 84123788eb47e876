#include "readers/DbcCursor.h"

#include <cstring>

int CDbcCursor::ReadHeader() {
  const char* p = records_->At(0, kHeaderSize);
  if (p == nullptr) return -1;
  std::memcpy(header_.magic, p, 4);
  header_.recordCount = DecodeInt32(p + 4);
  header_.fieldCount = DecodeInt32(p + 8);
  header_.recordSize = DecodeInt32(p + 12);
  header_.stringBlockSize = DecodeInt32(p + 16);
  return 0;
}

int CDbcCursor::Locate(const FieldMap& fields, std::int32_t index,
                       DbcField* field) {
  // Visits the listed fields only, so a huge index costs nothing extra.
  std::int64_t offset = 0;
  std::int64_t listed = 0;
  const auto end = fields.lower_bound(index);
  for (auto it = fields.lower_bound(0); it != end; ++it) {
    offset += it->second.size;
    ++listed;
  }
  field->offset = offset + 4 * (static_cast<std::int64_t>(index) - listed);
  const auto it = fields.find(index);
  field->type = it == fields.end() || it->second.type == kTypeNone
                    ? kTypeInteger
                    : it->second.type;
  switch (field->type) {
    case kTypeString:
      field->kind = ValueKind::kString;
      break;
    case kTypeFloat:
      field->kind = ValueKind::kFloat;
      break;
    case kTypeByte:
      field->kind = ValueKind::kByte;
      break;
    default:
      field->kind = ValueKind::kInteger;
      break;
  }
  // Negative sizes in the definitions could point a field before its record.
  std::int32_t unused = 0;
  return ToPosition(field->offset, &unused) ? 0 : -1;
}

std::int64_t CDbcCursor::ScanCount() const {
  const std::int64_t count = header_.recordCount > 0 ? header_.recordCount : 0;
  return header_.recordSize == 0 && count > 1 ? 1 : count;
}

std::int64_t CDbcCursor::FieldPosition(const DbcField& field,
                                       std::int64_t j) const {
  std::int32_t pos = 0;
  return ToPosition(kHeaderSize + j * header_.recordSize + field.offset, &pos)
             ? pos
             : -1;
}

std::int64_t CDbcCursor::TextPosition(std::int32_t offset) const {
  if (offset < 0) return -1;
  std::int32_t pos = 0;
  return ToPosition(kHeaderSize +
                        static_cast<std::int64_t>(header_.recordCount) *
                            header_.recordSize +
                        offset,
                    &pos)
             ? pos
             : -1;
}

int CDbcCursor::Find(const DbcField& field, const DBParam_t& key,
                     std::int64_t* found) {
  const ValueKind kind = field.kind;
  // A text is tested a piece at a time, never gathered, and read through its
  // NUL even when it differs early: one without its NUL fails the scan, as
  // reading it would.
  const int status = Scan(
      field,
      [kind, &key](std::int64_t, const char* p, std::size_t) {
        return NumberMatches(kind, p, key);
      },
      [this, &key](std::int64_t, std::int64_t text) {
        return MatchTextAt(*strings_, text, key);
      },
      found);
  return status == 1 ? 0 : -1;
}

int CDbcCursor::Store(const DbcField& field, std::int64_t record,
                      DBParam_t& result) {
  const std::int64_t pos = FieldPosition(field, record);
  const std::size_t width =
      field.kind == ValueKind::kString ? 4 : WidthOf(field.kind);
  const char* p = pos < 0 ? nullptr : records_->At(pos, width);
  if (p == nullptr) return -1;
  if (field.kind != ValueKind::kString) {
    StoreNumber(field.kind, p, result);
    return 0;
  }
  const std::int64_t text = TextPosition(DecodeInt32(p));
  return text < 0 ? -1 : AppendTextAt(*strings_, text, result.strValue);
}
