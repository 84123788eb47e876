#include "readers/DBCFileWrapper.h"

#include <StormLib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>

#include "query/PathUtil.h"
#include "readers/ArchiveGuard.h"
#include "readers/Coding.h"

namespace {

constexpr std::int64_t kHeaderSize = 20;
// String keys shorter than this are compared from one read of this size.
constexpr std::size_t kShortBlock = 64;
constexpr auto kShortSpan = static_cast<std::int64_t>(kShortBlock);
// Long scans read this many bytes of records at a time, from a position on
// an archive sector boundary.
constexpr std::int64_t kBatchBytes = 256 * 1024;
constexpr std::int64_t kSectorAlignment = 4096;
// A key test on held bytes that needs bytes the buffer does not hold.
constexpr int kNotHeld = 2;

// Read-only: an archive without write permission still opens, and nothing
// asks for write access. Lookups by name need neither the listfile nor the
// attributes, and loading the listfile costs time and touches global state.
constexpr DWORD kOpenFlags =
    MPQ_OPEN_READ_ONLY | MPQ_OPEN_NO_LISTFILE | MPQ_OPEN_NO_ATTRIBUTES;

// The archive library builds a process-wide table on its first archive
// open, and two first opens at once race on it. Opens are serialised until
// one has succeeded; after that they run side by side without a lock.
std::atomic<bool> g_archives_ready{false};
std::mutex g_first_open;

bool OpenArchive(const std::string& path, HANDLE* archive) {
  // Some damaged archives crash or hang the archive library inside its open
  // call; those never reach it.
  if (!ArchiveIsSafeToOpen(path)) return false;
  if (g_archives_ready.load(std::memory_order_acquire)) {
    return SFileOpenArchive(path.c_str(), 0, kOpenFlags, archive);
  }
  std::lock_guard<std::mutex> lock(g_first_open);
  const bool opened = SFileOpenArchive(path.c_str(), 0, kOpenFlags, archive);
  if (opened) g_archives_ready.store(true, std::memory_order_release);
  return opened;
}

// A path the C interface would cut short at an inner NUL names another file.
bool HasNul(const std::string& s) { return s.find('\0') != std::string::npos; }

// Offset of field index within a record: the sizes of the listed fields
// below it, plus 4 for each position below it that the definitions skip.
// Visits the listed fields only, so a huge index costs nothing extra.
std::int64_t FieldOffset(const FieldMap& fields, std::int32_t index) {
  std::int64_t offset = 0;
  std::int64_t listed = 0;
  const auto end = fields.lower_bound(index);
  for (auto it = fields.lower_bound(0); it != end; ++it) {
    offset += it->second.size;
    ++listed;
  }
  return offset + 4 * (static_cast<std::int64_t>(index) - listed);
}

// Bytes of data[0..n) up to and including the last NUL; 0 without one.
std::int64_t ThroughLastNul(const char* data, std::int64_t n) {
  while (n > 0 && data[n - 1] != '\0') --n;
  return n;
}

// Visits in place the keys that the window holds after its cursor, which
// has just passed a key: the next one ends stride bytes further on (stride
// at least kWidth), and so on, up to limit keys. Stops after the first that
// visit decides (1 or -1), whose verdict it returns, or before the first key
// not held whole (0). *visited counts the keys visited; the cursor ends just
// past the last of them, where reading each would have left it.
template <std::size_t kWidth, typename Visit>
int VisitHeld(CReadWindow& window, std::int64_t stride, std::int64_t limit,
              const Visit& visit, std::int64_t* visited) {
  const char* data = nullptr;
  // Not up to 2^31 itself, where the cursor cannot be skipped to.
  const std::size_t held = std::min<std::size_t>(
      window.Peek(&data),
      static_cast<std::size_t>(CReadWindow::kMaxPosition - window.position()));
  const auto step = static_cast<std::size_t>(stride);
  std::int64_t n = 0;
  int verdict = 0;
  // held is at most the window's capacity: end cannot overflow.
  for (std::size_t end = step; n < limit && end <= held; end += step) {
    ++n;
    verdict = visit(data + (end - kWidth));
    if (verdict != 0) break;
  }
  window.Skip(n * stride);
  *visited = n;
  return verdict;
}

// The type reported for field index: the listed one, with "none" and an
// unlisted field both read and reported as integers.
std::int32_t FieldTypeOf(const FieldMap& fields, std::int32_t index) {
  const auto it = fields.find(index);
  if (it == fields.end() || it->second.type == kTypeNone) return kTypeInteger;
  return it->second.type;
}

}  // namespace

void CDBCFileWrapper::ArchiveCloser::operator()(void* handle) const {
  SFileCloseArchive(handle);
}

void CDBCFileWrapper::TableCloser::operator()(void* handle) const {
  SFileCloseFile(handle);
}

CDBCFileWrapper::CDBCFileWrapper() : CFileWrapper(0) {}

CDBCFileWrapper::~CDBCFileWrapper() { CDBCFileWrapper::Close(); }

int CDBCFileWrapper::Open(const std::wstring& archivePath,
                          const std::string& tablePath) {
  try {
    return OpenUnguarded(archivePath, tablePath);
  } catch (...) {
    return -1;
  }
}

int CDBCFileWrapper::OpenUnguarded(const std::wstring& archivePath,
                                   const std::string& tablePath) {
  Close();
  archive_path_ = archivePath;
  table_path_ = tablePath;

  std::string narrow;
  if (!NarrowExact(archive_path_, &narrow) || narrow.empty() ||
      HasNul(narrow) || HasNul(table_path_)) {
    return -1;
  }
  HANDLE archive = nullptr;
  if (!OpenArchive(narrow, &archive)) return -1;
  archive_.reset(archive);

  HANDLE table = nullptr;
  if (!SFileOpenFileEx(archive_.get(), table_path_.c_str(), 0, &table)) {
    return -1;
  }
  table_.reset(table);
  if (!TableIsSafeToRead(narrow, archive_.get(), table_.get())) return -1;
  window_.Reset(this);
  strings_.Reset(this);
  failing_string_end_ = kNoEnd;
  string_batch_length_ = 0;
  string_batch_terminated_ = 0;
  // Known up to 2^31-1 only, as positions are; unknown is -1.
  DWORD high = 0;
  const DWORD low = SFileGetFileSize(table_.get(), &high);
  table_size_ = low == SFILE_INVALID_SIZE
                    ? -1
                    : std::min<std::int64_t>(
                          (static_cast<std::int64_t>(high) << 32) | low,
                          std::numeric_limits<std::int32_t>::max());
  return ReadHeader();
}

void CDBCFileWrapper::Close() {
  window_.Reset(nullptr);
  strings_.Reset(nullptr);
  table_.reset();
  archive_.reset();
}

std::uint32_t CDBCFileWrapper::ReadAt(std::uint32_t pos, char* dst,
                                      std::uint32_t n) {
  if (!table_ ||
      pos > static_cast<std::uint32_t>(std::numeric_limits<LONG>::max())) {
    return 0;
  }
  LONG high = 0;
  if (SFileSetFilePointer(table_.get(), static_cast<LONG>(pos), &high,
                          FILE_BEGIN) == SFILE_INVALID_POS) {
    return 0;
  }
  // A short read returns false but still counts the bytes it delivered.
  DWORD got = 0;
  SFileReadFile(table_.get(), dst, n, &got, nullptr);
  return got < n ? got : n;
}

bool CDBCFileWrapper::Ready() {
  if (!table_) return false;
  if (!window_.ok()) {
    const std::int64_t here = window_.position();
    window_.Reset(this);
    window_.Seek(here);
  }
  return true;
}

int CDBCFileWrapper::ReadHeader() {
  if (!archive_ || !table_) return -1;
  SeekFromBegin(0);
  if (ReadBytes(header_.magic, 4) != 0) return -1;
  if (ReadInt(&header_.recordCount) != 0) return -1;
  if (ReadInt(&header_.fieldCount) != 0) return -1;
  if (ReadInt(&header_.recordSize) != 0) return -1;
  if (ReadInt(&header_.stringBlockSize) != 0) return -1;
  return 0;
}

int CDBCFileWrapper::ReadInt(std::int32_t* value) {
  char bytes[4];
  if (value == nullptr || !Ready() || window_.Read(bytes, 4) != 0) return -1;
  *value = DecodeInt32(bytes);
  return 0;
}

int CDBCFileWrapper::ReadFloat(float* value) {
  char bytes[4];
  if (value == nullptr || !Ready() || window_.Read(bytes, 4) != 0) return -1;
  *value = DecodeFloat(bytes);
  return 0;
}

int CDBCFileWrapper::ReadByte(char* value) {
  if (value == nullptr || !Ready()) return -1;
  return window_.ReadByte(value);
}

int CDBCFileWrapper::ReadBytes(char* buffer, std::int32_t count) {
  if (count < 0 || (count > 0 && buffer == nullptr) || !Ready()) return -1;
  if (count == 0) return 0;
  return window_.Read(buffer, static_cast<std::size_t>(count));
}

int CDBCFileWrapper::SeekFromBegin(std::int32_t position) {
  if (!Ready()) return -1;
  return window_.Seek(position);
}

int CDBCFileWrapper::SeekFromCurrent(std::int32_t distance) {
  if (!Ready()) return -1;
  return window_.Skip(distance);
}

std::int64_t CDBCFileWrapper::StringBlockStart() const {
  return kHeaderSize +
         static_cast<std::int64_t>(header_.recordCount) * header_.recordSize;
}

int CDBCFileWrapper::ReadString(std::string& out) {
  char bytes[4];
  if (!Ready() || window_.Read(bytes, 4) != 0) return -1;
  const std::int32_t offset = DecodeInt32(bytes);
  // A negative offset would point back into the records.
  if (offset < 0) return -1;
  try {
    return AppendStringAt(StringBlockStart() + offset, out);
  } catch (...) {
    return -1;
  }
}

int CDBCFileWrapper::AppendStringAt(std::int64_t pos, std::string& out) {
  std::int32_t start = 0;
  if (!ToPosition(pos, &start) || window_.Seek(start) != 0) return -1;
  for (;;) {
    char c = 0;
    if (window_.ReadByte(&c) != 0) return -1;
    if (c == '\0') return 0;
    out.push_back(c);
  }
}

// A short string key as words of the text and its NUL, with masks of the
// bytes that must equal them, compared against a block of the table a word
// at a time.
struct CDBCFileWrapper::KeyPattern {
  static constexpr std::size_t kWords = kShortBlock / 8;
  enum Verdict { kMatch, kDiffers, kLonger };

  std::size_t words;  // covering the text and its NUL
  std::uint64_t want[kWords];
  std::uint64_t mask[kWords];

  explicit KeyPattern(const std::string& text)
      : words((text.size() + 1 + 7) / 8) {
    char bytes[kShortBlock] = {};
    char ones[kShortBlock] = {};
    std::memcpy(bytes, text.data(), text.size());
    std::memset(ones, 0xFF, text.size() + 1);
    std::memcpy(want, bytes, sizeof want);
    std::memcpy(mask, ones, sizeof mask);
  }

  static std::uint64_t Word(const char* block, std::size_t i) {
    std::uint64_t w;
    std::memcpy(&w, block + 8 * i, sizeof w);
    return w;
  }

  static bool HasNul(std::uint64_t w) {
    constexpr std::uint64_t kLow = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    return ((w - kLow) & ~w & kHigh) != 0;
  }

  // Bytes that Equals reads.
  std::int64_t span() const { return static_cast<std::int64_t>(8 * words); }

  // True when the block, span() bytes or more, begins with the text and its
  // NUL.
  bool Equals(const char* block) const {
    // Most strings differ from the text in the first word already.
    std::uint64_t diff = (Word(block, 0) ^ want[0]) & mask[0];
    for (std::size_t i = 1; diff == 0 && i < words; ++i) {
      diff = (Word(block, i) ^ want[i]) & mask[i];
    }
    return diff == 0;
  }

  // kMatch: the block begins with the text and its NUL. kDiffers: it does
  // not, and the string it begins ends within it. kLonger: no NUL in it.
  Verdict Compare(const char* block) const {
    std::uint64_t diff = 0;
    bool nul = false;
    std::size_t i = 0;
    for (; i < words; ++i) {
      const std::uint64_t w = Word(block, i);
      diff |= (w ^ want[i]) & mask[i];
      nul = nul || HasNul(w);
    }
    if (diff == 0) return kMatch;
    for (; !nul && i < kWords; ++i) nul = HasNul(Word(block, i));
    return nul ? kDiffers : kLonger;
  }
};

struct CDBCFileWrapper::StringKey {
  const std::string& text;
  const KeyPattern* pattern;  // when the text is short and holds no NUL
  bool comparable;  // holds no NUL: a string of the block can equal it
};

const char* CDBCFileWrapper::RefillStringBatch(std::int64_t pos) {
  if (pos < 0 || table_size_ < 0) return nullptr;
  const std::int64_t base = pos - pos % kSectorAlignment;
  const std::int64_t length = std::min(kBatchBytes, table_size_ - base);
  if (pos + kShortSpan > base + length) return nullptr;
  if (!string_batch_) string_batch_.reset(new char[kBatchBytes]);
  string_batch_length_ = 0;
  string_batch_terminated_ = 0;
  if (strings_.Seek(base) != 0 ||
      strings_.Read(string_batch_.get(), static_cast<std::size_t>(length)) !=
          0) {
    // The table is shorter than it said: leave it to the window.
    strings_.Reset(this);
    table_size_ = -1;
    return nullptr;
  }
  string_batch_start_ = base;
  string_batch_length_ = length;
  string_batch_terminated_ = ThroughLastNul(string_batch_.get(), length);
  return string_batch_.get() + (pos - base);
}

// Decides as MatchStringAt would: a string that ends inside the batch is
// read whole, so only whether it equals the text remains.
inline int CDBCFileWrapper::TestHeldString(std::int64_t pos,
                                           const StringKey& key) const {
  const std::int64_t at = pos - string_batch_start_;
  // One comparison for both ends: a negative at turns huge.
  if (static_cast<std::uint64_t>(at) >=
      static_cast<std::uint64_t>(string_batch_terminated_)) {
    return kNotHeld;
  }
  const char* s = string_batch_.get() + at;
  if (key.pattern != nullptr &&
      at + key.pattern->span() <= string_batch_length_) {
    return key.pattern->Equals(s) ? 1 : 0;
  }
  // The string's NUL lies before string_batch_terminated_.
  const std::size_t n = key.text.size();
  const auto rest = static_cast<std::size_t>(string_batch_terminated_ - at);
  return key.comparable && n < rest && s[n] == '\0' &&
                 std::memcmp(s, key.text.data(), n) == 0
             ? 1
             : 0;
}

int CDBCFileWrapper::MatchStringAt(std::int64_t pos, const std::string& text,
                                   const KeyPattern* pattern, bool* matched) {
  std::int32_t start = 0;
  if (!ToPosition(pos, &start)) return -1;
  if (pattern == nullptr) return MatchStringBytewise(start, text, matched);
  // Usually the string and its NUL lie within one fixed-size block.
  const char* bytes =
      start >= string_batch_start_ &&
              start + kShortSpan <= string_batch_start_ + string_batch_length_
          ? string_batch_.get() + (start - string_batch_start_)
          : RefillStringBatch(start);
  char copy[kShortBlock];
  if (bytes == nullptr) {
    const std::int64_t end = static_cast<std::int64_t>(start) + kShortSpan;
    if (end >= failing_string_end_ || strings_.Seek(start) != 0 ||
        strings_.Read(copy, kShortBlock) != 0) {
      // Near the end of the table. Later reads that far fail too: they go
      // byte by byte at once rather than refill the window each time.
      failing_string_end_ = std::min(failing_string_end_, end);
      return MatchStringBytewise(start, text, matched);
    }
    bytes = copy;
  }
  const KeyPattern::Verdict verdict = pattern->Compare(bytes);
  *matched = verdict == KeyPattern::kMatch;
  if (verdict != KeyPattern::kLonger) return 0;
  // Longer than the block: no match, but the rest must still be readable.
  if (strings_.Seek(start + kShortSpan) != 0) {
    return -1;
  }
  char c = 0;
  do {
    if (strings_.ReadByte(&c) != 0) return -1;
  } while (c != '\0');
  return 0;
}

int CDBCFileWrapper::MatchStringBytewise(std::int32_t start,
                                         const std::string& text,
                                         bool* matched) {
  if (!strings_.ok()) strings_.Reset(this);
  if (strings_.Seek(start) != 0) return -1;
  // A string whose NUL the window already holds is compared in place.
  const char* held = nullptr;
  const std::size_t n = strings_.Peek(&held);
  const void* nul = n != 0 ? std::memchr(held, '\0', n) : nullptr;
  if (nul != nullptr) {
    const auto length =
        static_cast<std::size_t>(static_cast<const char*>(nul) - held);
    *matched =
        length == text.size() && std::memcmp(held, text.data(), length) == 0;
    return strings_.Skip(static_cast<std::int64_t>(length) + 1);
  }
  std::size_t length = 0;
  bool same = true;
  for (;;) {
    char c = 0;
    if (strings_.ReadByte(&c) != 0) return -1;
    if (c == '\0') break;
    same = same && length < text.size() && text[length] == c;
    ++length;
  }
  *matched = same && length == text.size();
  return 0;
}

CFileWrapper::ValueKind CDBCFileWrapper::KindOf(std::int32_t type) {
  switch (type) {
    case kTypeString:
      return ValueKind::kString;
    case kTypeFloat:
      return ValueKind::kFloat;
    case kTypeByte:
      return ValueKind::kByte;
    default:
      return ValueKind::kInteger;
  }
}

bool CDBCFileWrapper::NamesColumn(std::int32_t index) const {
  return index >= 0 && index < header_.fieldCount;
}

int CDBCFileWrapper::CheckFieldIndexes(const DBParam_t& key,
                                       const DBParam_t& result) const {
  if (definitions() == nullptr) return -1;
  if (!NamesColumn(key.fieldIndex) || !NamesColumn(result.fieldIndex)) {
    return -1;
  }
  return 0;
}

int CDBCFileWrapper::Query(DBParam_t& key, DBParam_t& result) {
  const std::size_t old_length = result.strValue.size();
  try {
    return QueryUnguarded(key, result);
  } catch (...) {
    if (result.strValue.size() > old_length) result.strValue.resize(old_length);
    return -1;
  }
}

int CDBCFileWrapper::QueryUnguarded(DBParam_t& key, DBParam_t& result) {
  if (CheckFieldIndexes(key, result) != 0) return -1;
  const FieldMap& fields = *definitions();
  const std::int64_t key_offset = FieldOffset(fields, key.fieldIndex);
  const std::int64_t result_offset = FieldOffset(fields, result.fieldIndex);
  key.type = FieldTypeOf(fields, key.fieldIndex);
  result.type = FieldTypeOf(fields, result.fieldIndex);
  // Negative sizes in the definitions could point a field before its record.
  std::int32_t unused = 0;
  if (!ToPosition(key_offset, &unused) || !ToPosition(result_offset, &unused)) {
    return -1;
  }
  if (!Ready()) return -1;
  if (!strings_.ok()) strings_.Reset(this);

  // With a record size of 0 every record is the one at the header's end:
  // comparing it once gives the answer comparing it n times would.
  std::int64_t count = header_.recordCount > 0 ? header_.recordCount : 0;
  if (header_.recordSize == 0 && count > 1) count = 1;

  std::int64_t found = 0;
  if (FindRecord(KindOf(key.type), key, key_offset, count, &found) != 0) {
    return -1;
  }
  std::int32_t pos = 0;
  if (!ToPosition(kHeaderSize + found * header_.recordSize + result_offset,
                  &pos) ||
      window_.Seek(pos) != 0) {
    return -1;
  }
  return ReadAndStore(KindOf(result.type), result);
}

int CDBCFileWrapper::FindRecord(ValueKind kind, const DBParam_t& key,
                                std::int64_t keyOffset, std::int64_t count,
                                std::int64_t* found) {
  switch (kind) {
    case ValueKind::kInteger: {
      const std::int32_t want = key.intValue;
      return VisitKeys<4>(
          keyOffset, count,
          [want](const char* p) { return DecodeInt32(p) == want ? 1 : 0; },
          found);
    }
    case ValueKind::kByte: {
      const std::int32_t want = key.intValue;
      return VisitKeys<1>(
          keyOffset, count,
          [want](const char* p) {
            return static_cast<signed char>(*p) == want ? 1 : 0;
          },
          found);
    }
    case ValueKind::kFloat: {
      const float want = key.floatValue;
      // IEEE equality: a NaN matches nothing, -0 matches +0.
      return VisitKeys<4>(
          keyOffset, count,
          [want](const char* p) { return DecodeFloat(p) == want ? 1 : 0; },
          found);
    }
    case ValueKind::kString:
      return ScanStrings(keyOffset, count, key.strValue, found);
  }
  return -1;
}

int CDBCFileWrapper::ScanStrings(std::int64_t keyOffset, std::int64_t count,
                                 const std::string& text, std::int64_t* found) {
  const std::int64_t block = StringBlockStart();
  const bool comparable = text.find('\0') == std::string::npos;
  // Short texts without a NUL compare from one read.
  std::optional<KeyPattern> pattern;
  if (text.size() < kShortBlock && comparable) pattern.emplace(text);
  const StringKey key{text, pattern ? &*pattern : nullptr, comparable};
  return VisitKeys<4>(
      keyOffset, count,
      [&](const char* p) {
        const std::int32_t offset = DecodeInt32(p);
        if (offset < 0) return -1;
        // Usually the batch holds the string: no call, no read.
        const int held = TestHeldString(block + offset, key);
        if (held != kNotHeld) return held;
        bool matched = false;
        if (MatchStringAt(block + offset, text, key.pattern, &matched) != 0) {
          return -1;
        }
        return matched ? 1 : 0;
      },
      found);
}

// Reads the key field of each record in turn and hands its bytes to visit,
// which says 1 (match), 0 (go on) or -1 (fail). Long scans read many records
// at once into a buffer of their own, straight from the table, and fall back
// to one record at a time wherever a batch cannot be read whole; either way
// the bytes, and the record where a read fails, are those of seeking and
// reading record by record.
template <std::size_t kWidth, typename Visit>
int CDBCFileWrapper::VisitKeys(std::int64_t keyOffset, std::int64_t count,
                               const Visit& visit, std::int64_t* found) {
  constexpr auto kKeyWidth = static_cast<std::int64_t>(kWidth);
  const std::int64_t stride = header_.recordSize;
  const std::int64_t first = kHeaderSize + keyOffset;
  std::int64_t j = 0;
  char bytes[kWidth];
  // One record through the window: seek, read, visit. 1 when it decided.
  const auto one = [&](std::int64_t record, int* verdict) {
    std::int32_t pos = 0;
    if (!ToPosition(first + record * stride, &pos) || window_.Seek(pos) != 0 ||
        window_.Read(bytes, kWidth) != 0) {
      *verdict = -1;
      return true;
    }
    *verdict = visit(bytes);
    return *verdict != 0;
  };
  // The first records come through the window, whose first reads are small,
  // so that a match near the start never pays for a whole batch. After each
  // read, the keys the window holds beyond it are visited in place.
  const std::int64_t warm =
      stride > 0
          ? std::min<std::int64_t>(count, static_cast<std::int64_t>(
                                              CReadWindow::kDefaultCapacity) /
                                                  stride +
                                              1)
          : count;
  while (j < warm) {
    int verdict = 0;
    if (one(j, &verdict)) {
      if (verdict < 0) return -1;
      *found = j;
      return 0;
    }
    ++j;
    if (stride < kKeyWidth) continue;
    std::int64_t visited = 0;
    verdict = VisitHeld<kWidth>(window_, stride, warm - j, visit, &visited);
    j += visited;
    if (verdict < 0) return -1;
    if (verdict > 0) {
      *found = j - 1;
      return 0;
    }
  }
  if (stride >= kKeyWidth && stride <= kBatchBytes / 2) {
    while (j < count) {
      const std::int64_t pos = first + j * stride;
      if (pos < 0) break;
      // Start on a sector boundary: compressed sectors then unpack once.
      const std::int64_t base = pos - pos % kSectorAlignment;
      const std::int64_t lead = pos - base;
      const std::int64_t n =
          std::min(count - j, (kBatchBytes - lead - kKeyWidth) / stride + 1);
      const std::int64_t span = lead + (n - 1) * stride + kKeyWidth;
      // A short rest is served by the window; nothing past 2^31-1 is read.
      if (span <= static_cast<std::int64_t>(CReadWindow::kDefaultCapacity) ||
          base + span - 1 > std::numeric_limits<std::int32_t>::max()) {
        break;
      }
      if (!batch_) batch_.reset(new char[kBatchBytes]);
      if (window_.Seek(base) != 0 ||
          window_.Read(batch_.get(), static_cast<std::size_t>(span)) != 0) {
        window_.Reset(this);
        break;
      }
      const char* p = batch_.get() + lead;
      for (std::int64_t i = 0; i < n; ++i, p += stride) {
        const int verdict = visit(p);
        if (verdict < 0) return -1;
        if (verdict > 0) {
          *found = j + i;
          return 0;
        }
      }
      j += n;
    }
  }
  for (; j < count; ++j) {
    int verdict = 0;
    if (one(j, &verdict)) {
      if (verdict < 0) return -1;
      *found = j;
      return 0;
    }
  }
  return -1;
}
