#ifndef SELVANE_READERS_WDBCURSOR_H_
#define SELVANE_READERS_WDBCURSOR_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <SelvaneLibrary/DBParam.h>
#include <SelvaneLibrary/detail/FieldAttr.h>

#include "readers/Coding.h"
#include "readers/FieldValue.h"
#include "readers/ReadWindow.h"

// The 20-byte header of a WDB cache file, in file order. Kept as read;
// nothing compares it with anything.
struct WDBHeader_t {
  char firstTag[4] = {};
  std::int32_t firstNumber = 0;
  char secondTag[4] = {};
  std::int32_t secondNumber = 0;
  std::int32_t thirdNumber = 0;
};

// One record of a WDB file: where it starts and its two framing words.
struct WdbRecord {
  std::int32_t start = 0;
  std::int32_t id = 0;
  std::int32_t length = 0;
};

// How to reach field index of a WDB record, and how it reads. Index 0 is
// the entry id, 1 the data length (both integers), 2 and up the k-th entry
// of the definitions in ascending order of position, reached by passing over
// entries 2 .. k-1 from the start of the record data: a "cstring" through its
// NUL, an "amount" by its size then its skipbyte count, any other by its
// size (negative sizes move back).
class CWdbField {
 public:
  // True when the definitions have an entry for index (taken as unsigned).
  static bool Names(const selvane::FieldMap& fields, std::int32_t index) {
    return static_cast<std::uint32_t>(index) < fields.size();
  }
  // index must be named by fields.
  CWdbField(const selvane::FieldMap& fields, std::int32_t index);

  std::int32_t index() const { return index_; }
  // The code a query reports for the field.
  std::int32_t type() const { return type_; }
  // Integer, float, byte and cstring fields have a value; the rest do not,
  // and a query reading one fails.
  bool readable() const { return readable_; }
  ValueKind kind() const { return kind_; }
  // True when the walk never moves back, so it can run over bytes in place.
  bool forward() const { return forward_; }

 private:
  friend class CWdbCursor;
  friend class CWdbNumberPlace;
  void ChooseShape();
  struct Step {
    std::int64_t fixed = 0;  // bytes passed over first
    bool text = false;       // then a text through its NUL
  };

  std::int32_t index_;
  std::int32_t type_ = selvane::kTypeInteger;
  bool readable_ = true;
  bool forward_ = true;  // the walk never moves back: it can run in place
  ValueKind kind_ = ValueKind::kInteger;
  std::size_t width_ = 4;  // bytes of a number's value; 0 for a text
  // Where the walk starts in the record: a framing word's own offset, so
  // that the held scan needs no branch for it, or the data's.
  std::int64_t offset_ = 8;
  std::vector<Step> steps_;
  // How the scan walks held bytes, chosen once: most fields lie a fixed
  // distance from the record's start (kDirect), or past one text and then a
  // fixed distance (kPastText); anything else takes the steps.
  enum class Shape { kDirect, kPastText, kSteps };
  Shape shape_ = Shape::kSteps;
  std::int64_t lead_ = 0;  // record start to the text, or to the value
  std::int64_t tail_ = 0;  // past the text's NUL to the value
};

// Where a number field's value lies in records held in memory, worked out
// once for look-ups that read it again and again: no call, no loop. Found
// where ValueInPlace finds it, for a readable data field with a forward walk
// whose value lies a fixed distance from the record's start, or past one
// text shorter than 32 bytes and then a fixed distance; valid() is false for
// any other field.
class CWdbNumberPlace {
 public:
  explicit CWdbNumberPlace(const CWdbField& field)
      : lead_(field.lead_),
        tail_(field.tail_),
        width_(static_cast<std::int64_t>(field.width_)),
        pastText_(field.shape_ == CWdbField::Shape::kPastText),
        valid_(field.width_ != 0 && field.shape_ != CWdbField::Shape::kSteps),
        kind_(field.kind_) {}

  bool valid() const { return valid_; }
  ValueKind kind() const { return kind_; }

  // The value of the record at start in the size bytes at data, of which
  // the 32 after the last must be readable; null where the bytes do not
  // hold it, and for a text of 32 bytes or more (ValueInPlace then).
  const char* Find(const char* data, std::size_t size,
                   std::int64_t start) const {
    const auto end = static_cast<std::int64_t>(size);
    std::int64_t pos = start + lead_;
    if (pos > end) return nullptr;
    if (pastText_) {
      const char* nul = FindNulNear(data + pos);
      if (nul == nullptr) return nullptr;
      pos = (nul - data) + 1 + tail_;  // past end when the NUL is
    }
    return pos + width_ <= end ? data + pos : nullptr;
  }

 private:
  std::int64_t lead_;  // record start to the value, or to the text
  std::int64_t tail_;  // past the text's NUL to the value
  std::int64_t width_;
  bool pastText_;
  bool valid_;
  ValueKind kind_;
};

// The records of a WDB file over one window (a file stream or memory).
//
// Contract (the rules a query follows, for the query and for any other user
// such as an in-memory snapshot of the file):
// - Records follow the 20-byte header back to back, each an entry id, a
//   data length L and L bytes of data; the next starts 8 + L bytes after
//   the start of one. There is no count: the first record whose framing
//   words cannot be read whole ends the file. A length of -8 or less (which
//   would not move on) and a start past 2^31-1 end a scan too.
// - A field is found by walking the record data (CWdbField), not bounded by
//   the data length: a walk may read on into the next record. A walk or read
//   past the end of the data, or to a position outside 0 .. 2^31-1, fails.
// - VisitField(field, visit, &framed) visits the records in file order and
//   calls visit(record, p, n) with the field's value: for numbers its n
//   bytes, for a cstring its text (NUL excluded), in place or gathered; p is
//   valid during the call only. Returns 1 when visit returned true (stop),
//   -1 when the scan ended: the end of the data is reached the same way as
//   a damaged record, so a scan always ends with -1 unless stopped. *framed
//   counts the records whose framing words were read (the last one may have
//   failed in its walk or read, or have a field without a value).
// - Find(field, key, &record): the first record whose field matches the key,
//   writing key.type as a query does: for index 2 and up, the field's type
//   on every record framed; for 0 and 1, integer on the match only.
// - Store(record, field, result): the field's value into its member of
//   result (a cstring appended); -1 for a field without a value or a failed
//   read, the value members then as they were. Types are the caller's.
// Nothing throws.
class CWdbCursor {
 public:
  static constexpr std::int32_t kFirstRecord = 20;

  explicit CWdbCursor(CReadWindow* window) : window_(window) {}

  int ReadHeader(WDBHeader_t* header);

  template <typename Visit>
  int VisitField(const CWdbField& field, Visit&& visit, std::int64_t* framed);
  int Find(const CWdbField& field, DBParam_t& key, WdbRecord* found);
  int Store(const WdbRecord& record, const CWdbField& field, DBParam_t& result);

  // For a readable data field (index 2 and up) with a forward walk: its
  // value in bytes held in place, where a record's data starts at data and
  // the bytes end at end, as a scan reads it; null when those bytes do not
  // hold it whole. *n is the width, or the text's length.
  static const char* ValueInPlace(const char* data, const char* end,
                                  const CWdbField& field, std::size_t* n) {
    return WalkHeld(data, end, field, n);
  }

 private:
  static constexpr std::int64_t kFrameSize = 8;

  // Reads the framing words of the record at start.
  int ReadRecord(std::int32_t start, WdbRecord* record) {
    const char* p = window_->At(start, kFrameSize);
    if (p == nullptr) return -1;
    record->start = start;
    record->id = DecodeInt32(p);
    record->length = DecodeInt32(p + 4);
    return 0;
  }
  // The start of the record after this one; false when the scan ends: a
  // length of -8 or less would repeat the record or move back.
  static bool NextStart(const WdbRecord& record, std::int32_t* start) {
    if (record.length <= -kFrameSize) return false;
    return ToPosition(record.start + kFrameSize + record.length, start);
  }
  // Position of the field's first byte in the record; -1 when the walk
  // fails.
  std::int64_t Locate(const WdbRecord& record, const CWdbField& field);
  // The position after the NUL of the text at pos; -1 when the data ends
  // first. In place when the window holds the NUL.
  std::int64_t PastText(std::int64_t pos) {
    const char* held = nullptr;
    const std::size_t n = window_->HeldAt(pos, &held);
    const void* nul = n != 0 ? std::memchr(held, '\0', n) : nullptr;
    if (nul == nullptr) return PastTextThroughWindow(pos);
    return pos + (static_cast<const char*>(nul) - held) + 1;
  }
  std::int64_t PastTextThroughWindow(std::int64_t pos);
  // Find for one kind of number: equal(p) tests the field's bytes.
  template <typename Equal>
  int FindNumber(const CWdbField& field, Equal&& equal, WdbRecord* found,
                 std::int64_t* framed);
  // The one loop over the records. onHeld(record, p, n) decides on the
  // field's value held in place (as VisitField hands it over);
  // onField(record, pos) on the one at pos, through the window: 1 stop,
  // 0 go on, -1 fail. *last is the record the scan ended on, *framed the
  // count of records whose framing words were read. Scan picks the field's
  // held walk; ScanWith is the loop, walking held records with walk(record,
  // slack, &n): the value as WalkHeld finds it, from the record's start.
  template <typename OnHeld, typename OnField>
  int Scan(const CWdbField& field, OnHeld&& onHeld, OnField&& onField,
           WdbRecord* last, std::int64_t* framed);
  template <typename Walk, typename OnHeld, typename OnField>
  int ScanWith(const CWdbField& field, Walk walk, OnHeld onHeld,
               OnField& onField, WdbRecord* last, std::int64_t* framed);
  struct DirectWalk;
  struct PastTextWalk;
  struct StepsWalk;
  // The text at p up to its NUL: *n its length; null when the room bytes
  // from p do not hold the NUL.
  static const char* TextHeld(const char* p, std::size_t room, std::size_t* n);
  // The field's value in the held bytes of a record, its walk starting at
  // p (the record's start + offset_): *n its width, or a text's length;
  // null when the bytes up to end do not hold it whole.
  static const char* WalkHeld(const char* p, const char* end,
                              const CWdbField& field, std::size_t* n);

  CReadWindow* window_;
  std::string scratch_;  // a text the window does not hold whole
};

inline std::int64_t CWdbCursor::Locate(const WdbRecord& record,
                                       const CWdbField& field) {
  if (field.index_ < 2) return record.start + (field.index_ == 0 ? 0 : 4);
  std::int64_t pos = record.start + kFrameSize;
  for (const CWdbField::Step& step : field.steps_) {
    pos += step.fixed;
    if (pos < 0 || pos > CReadWindow::kMaxPosition) return -1;
    if (step.text && (pos = PastText(pos)) < 0) return -1;
  }
  return pos;
}

inline const char* CWdbCursor::WalkHeld(const char* p, const char* end,
                                        const CWdbField& field,
                                        std::size_t* n) {
  for (const CWdbField::Step& step : field.steps_) {
    if (step.fixed > end - p) return nullptr;
    p += step.fixed;
    if (!step.text) continue;
    const char* nul = FindNul(p, static_cast<std::size_t>(end - p));
    if (nul == nullptr) return nullptr;
    p = nul + 1;
  }
  if (field.width_ != 0) {
    *n = field.width_;
    return *n <= static_cast<std::size_t>(end - p) ? p : nullptr;
  }
  const char* nul = FindNul(p, static_cast<std::size_t>(end - p));
  if (nul == nullptr) return nullptr;
  *n = static_cast<std::size_t>(nul - p);
  return p;
}

// The held walks. reach() is how many bytes from a record's start (8 at
// least) a walk needs held to run without checking them; the scan walks a
// record only when they are, and hands over slack, how many more bytes the
// window holds after them. A walk then checks just what its texts decide.
struct CWdbCursor::DirectWalk {
  std::int64_t lead;  // record start to the value
  std::size_t width;
  std::int64_t reach() const {
    return std::max(kFrameSize, lead + static_cast<std::int64_t>(width));
  }
  const char* operator()(const char* record, std::size_t slack,
                         std::size_t* n) const {
    const char* value = record + lead;
    if (width != 0) {
      *n = width;
      return value;
    }
    // A text's reach is its lead (8 at least): slack is all after it.
    return TextHeld(value, slack, n);
  }
};

struct CWdbCursor::PastTextWalk {
  std::int64_t lead;  // record start to the text, 8 at least
  std::int64_t tail;  // past the text's NUL to the value
  std::size_t width;
  std::int64_t reach() const {
    return lead + tail + static_cast<std::int64_t>(width);
  }
  // A NUL in the last tail + width bytes would leave the value short, so the
  // search stops before them, slack bytes on: found, the value is held.
  const char* operator()(const char* record, std::size_t slack,
                         std::size_t* n) const {
    const char* text = record + lead;
    const char* nul = FindNul(text, slack);
    if (nul == nullptr) return nullptr;
    const char* value = nul + 1 + tail;
    if (width != 0) {
      *n = width;
      return value;
    }
    const char* end = text + slack + tail;  // where the held bytes end
    return TextHeld(value, static_cast<std::size_t>(end - value), n);
  }
};

struct CWdbCursor::StepsWalk {
  const CWdbField* field;
  std::int64_t reach() const { return kFrameSize; }
  const char* operator()(const char* record, std::size_t slack,
                         std::size_t* n) const {
    const char* end = record + kFrameSize + slack;
    return WalkHeld(record + field->offset_, end, *field, n);
  }
};

inline const char* CWdbCursor::TextHeld(const char* p, std::size_t room,
                                        std::size_t* n) {
  const char* nul = FindNul(p, room);
  if (nul == nullptr) return nullptr;
  *n = static_cast<std::size_t>(nul - p);
  return p;
}

template <typename OnHeld, typename OnField>
int CWdbCursor::Scan(const CWdbField& field, OnHeld&& onHeld, OnField&& onField,
                     WdbRecord* last, std::int64_t* framed) {
  switch (field.shape_) {
    case CWdbField::Shape::kDirect:
      return ScanWith(field, DirectWalk{field.lead_, field.width_}, onHeld,
                      onField, last, framed);
    case CWdbField::Shape::kPastText:
      return ScanWith(field,
                      PastTextWalk{field.lead_, field.tail_, field.width_},
                      onHeld, onField, last, framed);
    case CWdbField::Shape::kSteps:
      break;
  }
  return ScanWith(field, StepsWalk{&field}, onHeld, onField, last, framed);
}

template <typename Walk, typename OnHeld, typename OnField>
int CWdbCursor::ScanWith(const CWdbField& field, const Walk walk, OnHeld onHeld,
                         OnField& onField, WdbRecord* last,
                         std::int64_t* framed) {
  const bool in_place = field.forward_ && field.readable_;
  const std::int64_t reach = walk.reach();
  std::int64_t count = 0;
  std::int64_t start = kFirstRecord;
  int verdict = -1;
  for (;;) {
    // The records the window holds far enough for the walk, in place: no
    // call, no read. Held bytes lie at positions, so only the start after
    // them needs a check.
    const char* base = nullptr;
    const auto held =
        static_cast<std::int64_t>(in_place ? window_->HeldAt(start, &base) : 0);
    const std::int64_t last_off = held - reach;  // the last record walkable
    std::int64_t off = 0;
    while (off <= last_off) {
      const char* p = base + off;
      std::size_t n = 0;
      const char* value = walk(p, static_cast<std::size_t>(last_off - off), &n);
      if (value == nullptr) break;
      const std::int32_t length = DecodeInt32(p + 4);
      const WdbRecord record{static_cast<std::int32_t>(start + off),
                             DecodeInt32(p), length};
      ++count;
      verdict = onHeld(record, value, n);
      // A length of -8 or less would repeat the record or move back.
      if (verdict != 0 || length <= -kFrameSize) {
        *last = record;
        *framed = count;
        return verdict != 0 ? verdict : -1;
      }
      off += kFrameSize + length;
    }
    // One record through the window.
    verdict = -1;
    if (start + off > CReadWindow::kMaxPosition) break;
    start += off;
    if (ReadRecord(static_cast<std::int32_t>(start), last) != 0) break;
    ++count;
    if (!field.readable_) break;
    const std::int64_t pos = Locate(*last, field);
    if (pos < 0) break;
    verdict = onField(*last, pos);
    std::int32_t next = 0;
    if (verdict != 0 || !NextStart(*last, &next)) break;
    start = next;
  }
  *framed = count;
  return verdict != 0 ? verdict : -1;
}

template <typename Visit>
int CWdbCursor::VisitField(const CWdbField& field, Visit&& visit,
                           std::int64_t* framed) {
  const std::size_t width = field.width_;
  WdbRecord last;
  return Scan(
      field,
      [&](const WdbRecord& record, const char* p, std::size_t n) {
        return visit(record, p, n) ? 1 : 0;
      },
      [&](const WdbRecord& record, std::int64_t pos) {
        if (field.kind_ != ValueKind::kString) {
          const char* p = window_->At(pos, width);
          if (p == nullptr) return -1;
          return visit(record, p, width) ? 1 : 0;
        }
        const char* s = nullptr;
        std::size_t n = 0;
        if (TextAt(*window_, pos, scratch_, &s, &n) != 0) return -1;
        return visit(record, s, n) ? 1 : 0;
      },
      &last, framed);
}

#endif  // SELVANE_READERS_WDBCURSOR_H_
