#include "readers/WDBFileWrapper.h"

#include <algorithm>
#include <cstring>

#include "query/PathUtil.h"
#include "readers/Coding.h"

namespace {

constexpr std::int32_t kFirstRecord = 20;  // right after the header
constexpr std::int32_t kFrameSize = 8;     // entry id and data length
constexpr std::int32_t kIdIndex = 0;
constexpr std::int32_t kLengthIndex = 1;
constexpr std::int32_t kFirstDataIndex = 2;

// Compares a text handed over in pieces with the key's text, byte for byte,
// without keeping it: a text without a NUL can be as long as the file.
class TextMatcher {
 public:
  explicit TextMatcher(const std::string& want) : want_(want) {}

  void operator()(const char* p, std::size_t n) {
    if (same_) {
      same_ = n <= want_.size() - seen_ &&
              std::memcmp(p, want_.data() + seen_, n) == 0;
    }
    seen_ += n;
  }
  bool matched() const { return same_ && seen_ == want_.size(); }

 private:
  const std::string& want_;
  std::size_t seen_ = 0;
  bool same_ = true;
};

// Start of the record after the one at start with the given data length.
// A length of -8 or less would repeat the record or move back, and the scan
// would never end; a start past 2^31-1 names no byte. Both end the scan.
bool NextRecordStart(std::int32_t start, std::int32_t length,
                     std::int32_t* next) {
  if (length <= -kFrameSize) return false;
  return ToPosition(static_cast<std::int64_t>(start) + kFrameSize + length,
                    next);
}

// The steps of a scan, on the window. The primitives and the scan share
// them; here they can be inlined into the loop over records.
inline int ReadInt32(CReadWindow& window, std::int32_t* value) {
  char bytes[4];
  if (window.Read(bytes, sizeof bytes) != 0) return -1;
  *value = DecodeInt32(bytes);
  return 0;
}

inline int ReadFloat32(CReadWindow& window, float* value) {
  char bytes[4];
  if (window.Read(bytes, sizeof bytes) != 0) return -1;
  *value = DecodeFloat(bytes);
  return 0;
}

inline int SkipText(CReadWindow& window) {
  return window.ReadThrough('\0', [](const char*, std::size_t) {});
}

inline void StepOver(CReadWindow& window, const selvane::FieldAttr_t& entry) {
  switch (entry.type) {
    case selvane::kTypeCString:
      SkipText(window);
      break;
    case selvane::kTypeAmount:
      window.Skip(entry.size);
      window.Skip(entry.skipbyte);
      break;
    default:
      window.Skip(entry.size);
      break;
  }
}

// From the start of the record data to the first byte of field index
// (2 or more, below fields.size()).
inline const selvane::FieldAttr_t& WalkTo(
    CReadWindow& window, const std::vector<const selvane::FieldAttr_t*>& fields,
    std::int32_t index) {
  for (std::int32_t i = kFirstDataIndex; i < index; ++i) {
    StepOver(window, *fields[static_cast<std::size_t>(i)]);
  }
  return *fields[static_cast<std::size_t>(index)];
}

// The matching rules of ReadAndMatch, on the window and without a string
// per record: this runs once for every record of a scan. type is one that
// has a value kind.
inline int MatchField(CReadWindow& window, std::int32_t type,
                      const DBParam_t& key, bool* matched) {
  switch (type) {
    case selvane::kTypeInteger: {
      std::int32_t value = 0;
      if (ReadInt32(window, &value) != 0) return -1;
      *matched = value == key.intValue;
      return 0;
    }
    case selvane::kTypeByte: {
      char value = 0;
      if (window.ReadByte(&value) != 0) return -1;
      *matched = static_cast<signed char>(value) == key.intValue;
      return 0;
    }
    case selvane::kTypeFloat: {
      float value = 0.0f;
      if (ReadFloat32(window, &value) != 0) return -1;
      *matched = value == key.floatValue;  // NaN matches nothing; -0 == +0
      return 0;
    }
    case selvane::kTypeCString: {
      TextMatcher matcher(key.strValue);
      if (window.ReadThrough('\0', matcher) != 0) return -1;
      *matched = matcher.matched();
      return 0;
    }
    default:
      return -1;
  }
}

// The fields in front of the key as steps over a record held in memory:
// each step passes a run of fixed-size fields, then one "cstring" if it
// ends in one. Only built when no size is negative, so that the walk never
// moves back; such definitions are left to the window's own checks.
class KeyWalk {
 public:
  // Fields 2 .. index-1 of fields; false when the walk cannot be used.
  bool Build(const std::vector<const selvane::FieldAttr_t*>& fields,
             std::int32_t index) {
    Step step;
    for (std::int32_t i = kFirstDataIndex; i < index; ++i) {
      const selvane::FieldAttr_t& entry = *fields[static_cast<std::size_t>(i)];
      if (entry.type == selvane::kTypeCString) {
        step.text = true;
        steps_.push_back(step);
        step = Step();
        continue;
      }
      if (entry.size < 0) return false;
      step.fixed += static_cast<std::uint64_t>(entry.size);
      if (entry.type == selvane::kTypeAmount) {
        if (entry.skipbyte < 0) return false;
        step.fixed += static_cast<std::uint64_t>(entry.skipbyte);
      }
    }
    steps_.push_back(step);
    one_text_ = steps_.size() == 2 && steps_[0].text && !steps_[1].text;
    return true;
  }

  // Start of the key field when walking from p, or nullptr when the bytes
  // up to end run out first.
  const char* Walk(const char* p, const char* end) const {
    if (one_text_) return WalkOneText(p, end);
    for (const Step& step : steps_) {
      if (step.fixed > static_cast<std::uint64_t>(end - p)) return nullptr;
      p += step.fixed;
      if (step.text) {
        const void* nul =
            std::memchr(p, '\0', static_cast<std::size_t>(end - p));
        if (nul == nullptr) return nullptr;
        p = static_cast<const char*>(nul) + 1;
      }
    }
    return p;
  }

 private:
  // The walk of the usual layout, fixed fields, one text, fixed fields,
  // without the loop: it is most of the cost of a scan keyed after a text.
  const char* WalkOneText(const char* p, const char* end) const {
    const std::uint64_t lead = steps_[0].fixed, tail = steps_[1].fixed;
    if (lead > static_cast<std::uint64_t>(end - p)) return nullptr;
    p += lead;
    const void* nul = std::memchr(p, '\0', static_cast<std::size_t>(end - p));
    if (nul == nullptr) return nullptr;
    p = static_cast<const char*>(nul) + 1;
    if (tail > static_cast<std::uint64_t>(end - p)) return nullptr;
    return p + tail;
  }

  struct Step {
    std::uint64_t fixed = 0;
    bool text = false;
  };
  std::vector<Step> steps_;
  bool one_text_ = false;
};

// What MatchField decides, on bytes held in memory: 1 matched, 0 not,
// kNotHeld when the value runs past end, -1 for a type without a value.
constexpr int kNotHeld = 2;

int MatchInPlace(const char* p, const char* end, std::int32_t type,
                 const DBParam_t& key) {
  const auto held = static_cast<std::size_t>(end - p);
  switch (type) {
    case selvane::kTypeInteger:
      if (held < 4) return kNotHeld;
      return DecodeInt32(p) == key.intValue ? 1 : 0;
    case selvane::kTypeByte:
      if (held < 1) return kNotHeld;
      return static_cast<signed char>(*p) == key.intValue ? 1 : 0;
    case selvane::kTypeFloat:
      if (held < 4) return kNotHeld;
      return DecodeFloat(p) == key.floatValue ? 1 : 0;
    case selvane::kTypeCString: {
      const void* nul = std::memchr(p, '\0', held);
      if (nul == nullptr) return kNotHeld;
      const auto n =
          static_cast<std::size_t>(static_cast<const char*>(nul) - p);
      return n == key.strValue.size() &&
                     std::memcmp(p, key.strValue.data(), n) == 0
                 ? 1
                 : 0;
    }
    default:
      return -1;
  }
}

// The key test of a scan on bytes held in memory: 1 matched, 0 not, -1 the
// query ends, kNotHeld when the record reaches past end. keyType is the key
// field's type (index 2 on).
int TestHeld(const char* p, const char* end, DBParam_t& key,
             const KeyWalk& walk, std::int32_t keyType) {
  switch (key.fieldIndex) {
    case kIdIndex:
    case kLengthIndex: {
      const std::int32_t value =
          DecodeInt32(p + (key.fieldIndex == kIdIndex ? 0 : 4));
      if (value != key.intValue) return 0;
      key.type = selvane::kTypeInteger;
      return 1;
    }
    default: {
      const char* at = walk.Walk(p + kFrameSize, end);
      if (at == nullptr) return kNotHeld;
      key.type = keyType;
      return MatchInPlace(at, end, keyType, key);
    }
  }
}

// Scans the records the window holds from the cursor, which stands at
// *start, reading nothing. Moves *start past every record that does not
// match. 1: the record at *start matches (its framing words in id and
// length); -1: the query ends; kNotHeld: the record at *start reaches past
// the window and has to be tested through it.
int ScanHeld(const CReadWindow& window, DBParam_t& key, const KeyWalk& walk,
             std::int32_t keyType, std::int32_t* start, std::int32_t* id,
             std::int32_t* length) {
  const char* base = nullptr;
  const std::size_t held = window.Peek(&base);
  const char* end = base + held;
  const std::int32_t first = *start;
  for (;;) {
    const auto offset = static_cast<std::size_t>(*start - first);
    if (held < kFrameSize || offset > held - kFrameSize) return kNotHeld;
    const char* p = base + offset;
    const int tested = TestHeld(p, end, key, walk, keyType);
    if (tested == kNotHeld) return kNotHeld;
    *id = DecodeInt32(p);
    *length = DecodeInt32(p + 4);
    if (tested != 0) return tested;
    if (!NextRecordStart(*start, *length, start)) return -1;
  }
}

}  // namespace

CWDBFileWrapper::CWDBFileWrapper()
    : CFileWrapper(1), source_(&stream_), window_(kWindowCapacity) {}

CWDBFileWrapper::~CWDBFileWrapper() { Close(); }

int CWDBFileWrapper::Open(const std::wstring& path) {
  try {
    Close();
    path_ = path;
    std::string narrow;
    if (!NarrowExact(path, &narrow)) return -1;
    OpenStream(narrow);
    if (!stream_.IsOpen()) return -1;
    window_.Reset(&source_);
    return ReadHeader();
  } catch (...) {
    return -1;
  }
}

void CWDBFileWrapper::OpenStream(const std::string& narrowPath) {
  // Other processes may go on reading and writing the file meanwhile.
  stream_.Open(narrowPath);
}

void CWDBFileWrapper::Close() {
  stream_.Close();
  window_.Reset(nullptr);
}

int CWDBFileWrapper::ReadHeader() {
  if (!stream_.IsOpen() || !window_.ok()) return -1;
  SeekFromBegin(0);  // a failure shows in the reads
  if (ReadBytes(header_.firstTag, 4) != 0) return -1;
  if (ReadInt(&header_.firstNumber) != 0) return -1;
  if (ReadBytes(header_.secondTag, 4) != 0) return -1;
  if (ReadInt(&header_.secondNumber) != 0) return -1;
  if (ReadInt(&header_.thirdNumber) != 0) return -1;
  return 0;
}

int CWDBFileWrapper::ReadInt(std::int32_t* value) {
  return ReadInt32(window_, value);
}

int CWDBFileWrapper::ReadFloat(float* value) {
  return ReadFloat32(window_, value);
}

int CWDBFileWrapper::ReadString(std::string& out) {
  try {
    return window_.ReadThrough(
        '\0', [&out](const char* p, std::size_t n) { out.append(p, n); });
  } catch (...) {
    // Out of memory part way: the cursor is somewhere inside the text.
    return window_.Fail();
  }
}

int CWDBFileWrapper::ReadByte(char* value) { return window_.ReadByte(value); }

int CWDBFileWrapper::ReadBytes(char* buffer, std::int32_t count) {
  if (count < 0) return window_.Fail();
  return window_.Read(buffer, static_cast<std::size_t>(count));
}

int CWDBFileWrapper::SeekFromBegin(std::int32_t position) {
  return window_.Seek(position);
}

int CWDBFileWrapper::SeekFromCurrent(std::int32_t distance) {
  return window_.Skip(distance);
}

int CWDBFileWrapper::SkipCString() { return SkipText(window_); }

void CWDBFileWrapper::SkipField(const selvane::FieldAttr_t& entry) {
  StepOver(window_, entry);
}

int CWDBFileWrapper::CheckFieldIndexes(const DBParam_t& key,
                                       const DBParam_t& result) const {
  const selvane::FieldMap* fields = definitions();
  if (fields == nullptr) return -1;
  if (static_cast<std::uint32_t>(key.fieldIndex) >= fields->size()) return -1;
  if (static_cast<std::uint32_t>(result.fieldIndex) >= fields->size()) {
    return -1;
  }
  return 0;
}

bool CWDBFileWrapper::KindOf(std::int32_t type, ValueKind* kind) {
  switch (type) {
    case selvane::kTypeInteger:
      *kind = ValueKind::kInteger;
      return true;
    case selvane::kTypeFloat:
      *kind = ValueKind::kFloat;
      return true;
    case selvane::kTypeByte:
      *kind = ValueKind::kByte;
      return true;
    case selvane::kTypeCString:
      *kind = ValueKind::kString;
      return true;
    default:  // "string", "bit", "amount" and unknown types have no value here
      return false;
  }
}

int CWDBFileWrapper::Query(DBParam_t& key, DBParam_t& result) {
  try {
    return Scan(key, result);
  } catch (...) {
    return -1;
  }
}

int CWDBFileWrapper::Scan(DBParam_t& key, DBParam_t& result) {
  if (CheckFieldIndexes(key, result) != 0) return -1;

  // The walk counts entries, not positions: the k-th entry is field k.
  const std::size_t needed =
      static_cast<std::size_t>(std::max(key.fieldIndex, result.fieldIndex)) + 1;
  FieldList fields;
  fields.reserve(needed);
  for (const auto& entry : *definitions()) {
    if (fields.size() == needed) break;
    fields.push_back(&entry.second);
  }

  // Most records lie whole inside the window: their key is tested on the
  // bytes in place. A record that reaches past the window, or a definition
  // the in-place walk does not take, goes through the window's reads, which
  // decide the same.
  KeyWalk walk;
  const bool inPlace =
      key.fieldIndex < kFirstDataIndex || walk.Build(fields, key.fieldIndex);
  const std::int32_t keyType =
      key.fieldIndex < kFirstDataIndex
          ? selvane::kTypeInteger
          : fields[static_cast<std::size_t>(key.fieldIndex)]->type;

  std::int32_t start = kFirstRecord;
  for (;;) {
    if (!window_.ok()) return -1;
    if (SeekFromBegin(start) != 0) return -1;
    std::int32_t id = 0;
    std::int32_t length = 0;
    int tested =
        inPlace ? ScanHeld(window_, key, walk, keyType, &start, &id, &length)
                : kNotHeld;
    if (tested == kNotHeld) {
      if (SeekFromBegin(start) != 0) return -1;
      // Both framing words in one read: a record whose second word cannot
      // be read ends the query just as when they are read one by one.
      char frame[kFrameSize];
      if (window_.Read(frame, sizeof frame) != 0) return -1;
      id = DecodeInt32(frame);
      length = DecodeInt32(frame + 4);
      tested = TestKey(key, id, length, fields);
    }
    if (tested < 0) return -1;
    if (tested > 0) return ReadResult(result, start, id, length, fields);
    if (!NextRecordStart(start, length, &start)) return -1;
  }
}

int CWDBFileWrapper::TestKey(DBParam_t& key, std::int32_t id,
                             std::int32_t length, const FieldList& fields) {
  switch (key.fieldIndex) {
    case kIdIndex:
    case kLengthIndex:
      if ((key.fieldIndex == kIdIndex ? id : length) != key.intValue) return 0;
      key.type = selvane::kTypeInteger;
      return 1;
    default: {
      const selvane::FieldAttr_t& field =
          WalkTo(window_, fields, key.fieldIndex);
      key.type = field.type;
      ValueKind kind;
      if (!KindOf(field.type, &kind)) return -1;
      bool matched = false;
      if (MatchField(window_, field.type, key, &matched) != 0) return -1;
      return matched ? 1 : 0;
    }
  }
}

int CWDBFileWrapper::ReadResult(DBParam_t& result, std::int32_t recordStart,
                                std::int32_t id, std::int32_t length,
                                const FieldList& fields) {
  std::int32_t data = 0;
  if (!ToPosition(static_cast<std::int64_t>(recordStart) + kFrameSize, &data) ||
      SeekFromBegin(data) != 0) {
    return -1;
  }
  switch (result.fieldIndex) {
    case kIdIndex:
    case kLengthIndex:
      result.intValue = result.fieldIndex == kIdIndex ? id : length;
      result.type = selvane::kTypeInteger;
      return 0;
    default: {
      const selvane::FieldAttr_t& field =
          WalkTo(window_, fields, result.fieldIndex);
      result.type = field.type;
      ValueKind kind;
      if (!KindOf(field.type, &kind)) return -1;
      return ReadAndStore(kind, result);
    }
  }
}
