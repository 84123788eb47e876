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

int CDbcCursor::Locate(const selvane::FieldMap& fields, std::int32_t index,
                       DbcField* field) {
  // Visits the listed fields only, so a huge index costs nothing extra. The
  // walk stops at the field itself when it is listed.
  std::int64_t offset = 0;
  std::int64_t listed = 0;
  auto it = fields.begin();
  if (it != fields.end() && it->first < 0) it = fields.lower_bound(0);
  for (; it != fields.end() && it->first < index; ++it) {
    offset += it->second.size;
    ++listed;
  }
  field->offset = offset + 4 * (static_cast<std::int64_t>(index) - listed);
  const bool own = it != fields.end() && it->first == index;
  field->type = !own || it->second.type == selvane::kTypeNone
                    ? selvane::kTypeInteger
                    : it->second.type;
  switch (field->type) {
    case selvane::kTypeString:
      field->kind = ValueKind::kString;
      break;
    case selvane::kTypeFloat:
      field->kind = ValueKind::kFloat;
      break;
    case selvane::kTypeByte:
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

void CDbcCursor::TakeHeldTexts(std::int64_t pos) {
  held_ = HeldTexts{};
  const char* s = nullptr;
  std::size_t n = strings_->HeldAt(pos, &s);
  while (n > 0 && s[n - 1] != '\0') --n;
  if (n != 0) held_ = HeldTexts{s, pos, n};
}

int CDbcCursor::Find(const DbcField& field, const DBParam_t& key,
                     std::int64_t* found) {
  int status = -1;
  switch (field.kind) {
    case ValueKind::kInteger: {
      const std::int32_t want = key.intValue;
      status = Scan(
          field, 4,
          [want](std::int64_t, const char* p) {
            return DecodeInt32(p) == want ? 1 : 0;
          },
          found);
      break;
    }
    case ValueKind::kByte: {
      const std::int32_t want = key.intValue;
      status = Scan(
          field, 1,
          [want](std::int64_t, const char* p) {
            return static_cast<signed char>(*p) == want ? 1 : 0;
          },
          found);
      break;
    }
    case ValueKind::kFloat: {
      const float want = key.floatValue;  // IEEE equality, as NumberMatches
      status = Scan(
          field, 4,
          [want](std::int64_t, const char* p) {
            return DecodeFloat(p) == want ? 1 : 0;
          },
          found);
      break;
    }
    case ValueKind::kString: {
      // A text is tested a piece at a time, never gathered, and read through
      // its NUL even when it differs early: one without its NUL fails the
      // scan, as reading it would.
      const bool comparable = key.strValue.find('\0') == std::string::npos;
      held_ = HeldTexts{};
      status = Scan(
          field, 4,
          [this, &key, comparable](std::int64_t, const char* p) {
            const std::int64_t text = TextPosition(DecodeInt32(p));
            if (text < 0) return -1;
            const int held = TestHeldText(text, key.strValue, comparable);
            if (held != kNotHeld) return held;
            const int matched = MatchTextAt(*strings_, text, key);
            TakeHeldTexts(text);
            return matched;
          },
          found);
      break;
    }
  }
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
