#include "readers/WdbCursor.h"

#include <cstring>

namespace {

constexpr std::int32_t kFirstDataIndex = 2;

// Positions a walk may stand on: 0 .. 2^31-1.
bool Within(std::int64_t pos) {
  return pos >= 0 && pos <= CReadWindow::kMaxPosition;
}

}  // namespace

CWdbField::CWdbField(const FieldMap& fields, std::int32_t index)
    : index_(index) {
  if (index < kFirstDataIndex) return;  // a framing word
  bool forward = true;                  // no passed-over size is negative
  std::int32_t i = 0;
  for (const auto& entry : fields) {
    const FieldAttr_t& f = entry.second;
    if (i == index) {
      type_ = f.type;
      break;
    }
    if (i++ < kFirstDataIndex) continue;
    if (f.type == kTypeCString) {
      steps_.push_back({0, true});
      continue;
    }
    steps_.push_back({f.size, false});
    if (f.type == kTypeAmount) steps_.push_back({f.skipbyte, false});
    forward =
        forward && f.size >= 0 && (f.type != kTypeAmount || f.skipbyte >= 0);
  }
  // Moving only forward, a run of sizes is one step: the walk then checks
  // the position once per text instead of once per field.
  if (forward) {
    std::vector<Step> merged;
    for (const Step& step : steps_) {
      if (!merged.empty() && !merged.back().text) {
        merged.back().fixed += step.fixed;
        merged.back().text = step.text;
      } else {
        merged.push_back(step);
      }
    }
    steps_.swap(merged);
  }
  switch (type_) {
    case kTypeInteger:
      kind_ = ValueKind::kInteger;
      break;
    case kTypeFloat:
      kind_ = ValueKind::kFloat;
      break;
    case kTypeByte:
      kind_ = ValueKind::kByte;
      break;
    case kTypeCString:
      kind_ = ValueKind::kString;
      break;
    default:  // "string", "bit", "amount" and unknown types have no value
      readable_ = false;
      break;
  }
}

int CWdbCursor::ReadHeader(WDBHeader_t* header) {
  const char* p = window_->At(0, kFirstRecord);
  if (p == nullptr) return -1;
  std::memcpy(header->firstTag, p, 4);
  header->firstNumber = DecodeInt32(p + 4);
  std::memcpy(header->secondTag, p + 8, 4);
  header->secondNumber = DecodeInt32(p + 12);
  header->thirdNumber = DecodeInt32(p + 16);
  return 0;
}

int CWdbCursor::ReadRecord(std::int32_t start, WdbRecord* record) {
  const char* p = window_->At(start, kFrameSize);
  if (p == nullptr) return -1;
  record->start = start;
  record->id = DecodeInt32(p);
  record->length = DecodeInt32(p + 4);
  return 0;
}

bool CWdbCursor::NextStart(const WdbRecord& record, std::int32_t* start) {
  // A length of -8 or less would repeat the record or move back, and the
  // scan would never end.
  if (record.length <= -kFrameSize) return false;
  return ToPosition(record.start + kFrameSize + record.length, start);
}

std::int64_t CWdbCursor::Locate(const WdbRecord& record,
                                const CWdbField& field) {
  if (field.index_ < kFirstDataIndex) {
    return record.start + (field.index_ == 0 ? 0 : 4);
  }
  std::int64_t pos = record.start + kFrameSize;
  for (const CWdbField::Step& step : field.steps_) {
    pos += step.fixed;
    if (!Within(pos)) return -1;
    if (!step.text) continue;
    // Usually the window holds the text through its NUL.
    const char* held = nullptr;
    const std::size_t n =
        window_->Seek(pos) == 0 ? window_->Peek(&held) : std::size_t{0};
    const void* nul = n != 0 ? std::memchr(held, '\0', n) : nullptr;
    if (nul != nullptr) {
      pos += static_cast<const char*>(nul) - held + 1;
    } else if (window_->ReadThrough('\0', [](const char*, std::size_t) {}) ==
               0) {
      pos = window_->position();
    } else {
      return -1;
    }
  }
  return pos;
}

int CWdbCursor::Find(const CWdbField& field, DBParam_t& key, WdbRecord* found) {
  const bool data = field.index() >= kFirstDataIndex;
  const std::size_t width = WidthOf(field.kind_);
  const int status = Scan(
      field,
      [&](const WdbRecord&) {
        if (data) key.type = field.type();
      },
      [&](const WdbRecord&, std::int64_t pos) {
        if (field.kind_ == ValueKind::kString) {
          return MatchTextAt(*window_, pos, key);
        }
        const char* p = window_->At(pos, width);
        if (p == nullptr) return -1;
        return NumberMatches(field.kind_, p, key) ? 1 : 0;
      },
      found);
  if (status != 1) return -1;
  if (!data) key.type = kTypeInteger;
  return 0;
}

int CWdbCursor::Store(const WdbRecord& record, const CWdbField& field,
                      DBParam_t& result) {
  // The record data must start at a position: a record whose framing words
  // end at 2^31 has no data to walk.
  if (!Within(record.start + kFrameSize) || !field.readable_) return -1;
  if (field.index_ < kFirstDataIndex) {
    result.intValue = field.index_ == 0 ? record.id : record.length;
    return 0;
  }
  const std::int64_t pos = Locate(record, field);
  if (pos < 0) return -1;
  if (field.kind_ == ValueKind::kString) {
    return AppendTextAt(*window_, pos, result.strValue);
  }
  const char* p = window_->At(pos, WidthOf(field.kind_));
  if (p == nullptr) return -1;
  StoreNumber(field.kind_, p, result);
  return 0;
}
