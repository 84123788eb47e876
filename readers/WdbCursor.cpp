#include "readers/WdbCursor.h"

#include <cstring>

namespace {

constexpr std::int32_t kFirstDataIndex = 2;

// Positions a walk may stand on: 0 .. 2^31-1.
bool Within(std::int64_t pos) {
  return pos >= 0 && pos <= CReadWindow::kMaxPosition;
}

}  // namespace

CWdbField::CWdbField(const selvane::FieldMap& fields, std::int32_t index)
    : index_(index) {
  if (index < kFirstDataIndex) {  // a framing word: no steps
    offset_ = 4 * index;
    ChooseShape();
    return;
  }
  bool forward = true;  // no passed-over size is negative
  steps_.reserve(2 * static_cast<std::size_t>(index));
  std::int32_t i = 0;
  for (const auto& entry : fields) {
    const selvane::FieldAttr_t& f = entry.second;
    if (i == index) {
      type_ = f.type;
      break;
    }
    if (i++ < kFirstDataIndex) continue;
    if (f.type == selvane::kTypeCString) {
      steps_.push_back({0, true});
      continue;
    }
    steps_.push_back({f.size, false});
    if (f.type == selvane::kTypeAmount) steps_.push_back({f.skipbyte, false});
    forward = forward && f.size >= 0 &&
              (f.type != selvane::kTypeAmount || f.skipbyte >= 0);
  }
  // Moving only forward, a run of sizes is one step: the walk then checks
  // the position once per text instead of once per field.
  forward_ = forward;
  if (forward) {
    std::size_t kept = 0;
    for (const Step& step : steps_) {
      if (kept != 0 && !steps_[kept - 1].text) {
        steps_[kept - 1].fixed += step.fixed;
        steps_[kept - 1].text = step.text;
      } else {
        steps_[kept++] = step;
      }
    }
    steps_.resize(kept);
  }
  switch (type_) {
    case selvane::kTypeInteger:
      kind_ = ValueKind::kInteger;
      break;
    case selvane::kTypeFloat:
      kind_ = ValueKind::kFloat;
      break;
    case selvane::kTypeByte:
      kind_ = ValueKind::kByte;
      break;
    case selvane::kTypeCString:
      kind_ = ValueKind::kString;
      break;
    default:  // "string", "bit", "amount" and unknown types have no value
      readable_ = false;
      break;
  }
  width_ = WidthOf(kind_);
  ChooseShape();
}

void CWdbField::ChooseShape() {
  // Only a forward walk of a readable field runs over held bytes.
  if (!forward_ || !readable_) return;
  // After the merge only the last step may be a bare run of bytes.
  const std::size_t n = steps_.size();
  const bool run_last = n != 0 && !steps_[n - 1].text;
  const std::size_t texts = run_last ? n - 1 : n;
  if (texts > 1) return;
  lead_ = offset_ + (n != 0 ? steps_[0].fixed : 0);
  tail_ = texts == 1 && run_last ? steps_[1].fixed : 0;
  shape_ = texts == 0 ? Shape::kDirect : Shape::kPastText;
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

std::int64_t CWdbCursor::PastTextThroughWindow(std::int64_t pos) {
  if (window_->Seek(pos) != 0 ||
      window_->ReadThrough('\0', [](const char*, std::size_t) {}) != 0) {
    return -1;
  }
  return window_->position();
}

template <typename Equal>
int CWdbCursor::FindNumber(const CWdbField& field, Equal&& equal,
                           WdbRecord* found, std::int64_t* framed) {
  // The held test takes equal by value: its key then stays in a register.
  return Scan(
      field,
      [equal](const WdbRecord&, const char* p, std::size_t) {
        return equal(p) ? 1 : 0;
      },
      [&](const WdbRecord&, std::int64_t pos) {
        const char* p = window_->At(pos, field.width_);
        if (p == nullptr) return -1;
        return equal(p) ? 1 : 0;
      },
      found, framed);
}

int CWdbCursor::Find(const CWdbField& field, DBParam_t& key, WdbRecord* found) {
  std::int64_t framed = 0;
  int status = -1;
  switch (field.kind_) {
    case ValueKind::kInteger: {
      const std::int32_t want = key.intValue;
      status = FindNumber(
          field, [want](const char* p) { return DecodeInt32(p) == want; },
          found, &framed);
      break;
    }
    case ValueKind::kByte: {
      const std::int32_t want = key.intValue;
      status = FindNumber(
          field,
          [want](const char* p) {
            return static_cast<signed char>(*p) == want;
          },
          found, &framed);
      break;
    }
    case ValueKind::kFloat: {
      const float want = key.floatValue;  // IEEE equality, as NumberMatches
      status = FindNumber(
          field, [want](const char* p) { return DecodeFloat(p) == want; },
          found, &framed);
      break;
    }
    case ValueKind::kString:
      status = Scan(
          field,
          [&](const WdbRecord&, const char* p, std::size_t n) {
            return TextMatches(p, n, key) ? 1 : 0;
          },
          [&](const WdbRecord&, std::int64_t pos) {
            return MatchTextAt(*window_, pos, key);
          },
          found, &framed);
      break;
  }
  // A data field's type is written for every record framed; the matchers
  // do not read it, so once after the scan is the same.
  const bool data = field.index() >= kFirstDataIndex;
  if (data && framed != 0) key.type = field.type();
  if (status != 1) return -1;
  if (!data) key.type = selvane::kTypeInteger;
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
