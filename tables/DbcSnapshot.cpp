// A DBC table in memory: its bytes, read from the first archive of a list
// that holds it, and an index per key field asked for, all read through the
// DBC record cursor.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>

#include "query/PathUtil.h"
#include "readers/ArchiveTable.h"
#include "readers/Coding.h"
#include "readers/DbcCursor.h"
#include "readers/ReadWindow.h"
#include "tables/IndexCache.h"
#include "tables/KeyIndex.h"
#include "tables/KeyWords.h"
#include "tables/TableSnapshot.h"

namespace {

using selvane::TableStatus;

constexpr std::uint32_t kFirstRead = 1u << 20;
constexpr std::uint64_t kMaxBytes = CReadWindow::kMaxPosition;

constexpr auto kPiece = static_cast<std::uint32_t>(CReadWindow::kPiece);

// Adds [from, to) to the holes, joined to the last one where they meet.
void AddHole(std::uint32_t from, std::uint32_t to, TableBytes* bytes) {
  std::fill(bytes->data.get() + from, bytes->data.get() + to, '\0');
  if (!bytes->holes.empty() && bytes->holes.back().second == from) {
    bytes->holes.back().second = to;
  } else {
    bytes->holes.emplace_back(from, to);
  }
}

// Reads the size bytes the archive lists for the table as a query's reads
// find them. The archive library fails a read that covers a sector it
// cannot unpack, though the sectors around it read on their own: so where a
// read stops short, the table is read again from there a piece at a time,
// each piece that comes back short leaving a hole, and after each piece that
// reads whole, the rest in one read again. Holes at the end are cut off.
void ReadListed(CArchiveTable& table, std::uint32_t size, TableBytes* bytes) {
  std::uint32_t pos = 0;
  while (pos < size) {
    const std::uint32_t got = std::min(
        table.ReadAt(pos, bytes->data.get() + pos, size - pos), size - pos);
    if (got == size - pos) return;
    pos += got - got % kPiece;
    // Pieces until one reads whole.
    while (pos < size) {
      const std::uint32_t n = std::min(kPiece, size - pos);
      const std::uint32_t read =
          std::min(table.ReadAt(pos, bytes->data.get() + pos, n), n);
      if (read < n) AddHole(pos + read, pos + n, bytes);
      pos += n;
      if (read == n) break;
    }
  }
  if (!bytes->holes.empty() && bytes->holes.back().second == size) {
    bytes->size = bytes->holes.back().first;
    bytes->holes.pop_back();
  }
}

// Reads the open table whole: at its listed size (see ReadListed), else in
// pieces doubling in size until one comes back short, which is where its
// bytes end (or stop being readable).
TableStatus ReadTable(CArchiveTable& table, const std::string& archivePath,
                      TableBytes* bytes) {
  const std::int64_t listed = table.size();
  if (listed >= 0) {
    // Past what can be read, every piece would fail and be cut off as a
    // hole at the end, one failed read each.
    const std::int64_t bound = table.ReadableIn(archivePath);
    const std::int64_t readable = bound >= 0 ? std::min(listed, bound) : listed;
    const auto size = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        static_cast<std::uint64_t>(readable), kMaxBytes));
    bytes->data.reset(new (std::nothrow) char[size == 0 ? 1 : size]);
    if (!bytes->data) return TableStatus::kOutOfMemory;
    bytes->size = size;
    ReadListed(table, size, bytes);
    return TableStatus::kOpen;
  }
  std::size_t capacity = 0;
  std::uint32_t want = kFirstRead;
  for (;;) {
    const std::size_t need = bytes->size + want;
    if (need > capacity) {
      std::unique_ptr<char[]> grown(new (std::nothrow) char[need]);
      if (!grown) return TableStatus::kOutOfMemory;
      if (bytes->size != 0)
        std::copy(bytes->data.get(), bytes->data.get() + bytes->size,
                  grown.get());
      bytes->data = std::move(grown);
      capacity = need;
    }
    const std::uint32_t got =
        table.ReadAt(static_cast<std::uint32_t>(bytes->size),
                     bytes->data.get() + bytes->size, want);
    bytes->size += std::min(got, want);
    if (got < want || bytes->size >= kMaxBytes) break;
    want = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(2ull * want, kMaxBytes - bytes->size));
  }
  bytes->size = std::min<std::size_t>(bytes->size, kMaxBytes);
  return TableStatus::kOpen;
}

class CDbcSnapshot final : public CTableSnapshot {
 public:
  CDbcSnapshot(TableBytes bytes, const selvane::FieldMap& fields)
      : bytes_(std::move(bytes)), fields_(fields) {}

  // Reads the header; false when the table is shorter than it.
  bool Load() {
    Reader reader(bytes_);
    if (reader.cursor.ReadHeader() != 0) return false;
    header_ = reader.cursor.header();
    // The string block follows the records the header counts.
    strings_ =
        CDbcCursor::kHeaderSize +
        static_cast<std::int64_t>(header_.recordCount) * header_.recordSize;
    return true;
  }

  // Once both fields were used before and the key field, an integer or a
  // byte, has its index: the hash look-up and one read, with the writes and
  // answers of QueryFirst.
  int Query(DBParam_t& key, DBParam_t& result) const override {
    const Layout* keyField = layouts_.Peek(key.fieldIndex);
    const Layout* resultField = layouts_.Peek(result.fieldIndex);
    const KeyTable* table =
        keyField != nullptr
            ? keyField->numberIndex.load(std::memory_order_acquire)
            : nullptr;
    if (table == nullptr || resultField == nullptr)
      return QueryFirst(key, result);
    key.type = keyField->type;
    result.type = resultField->type;
    const std::int32_t found =
        table->First(CKeyIndex::IntegerWord(key.intValue));
    if (found < 0) return -1;
    if (static_cast<std::uint32_t>(found) >= resultField->cellsHeld)
      return StoreFound(*resultField, found, result);
    const char* cell = bytes_.data.get() + resultField->firstCell +
                       static_cast<std::int64_t>(found) * header_.recordSize;
    if (resultField->kind == ValueKind::kInteger) {
      result.intValue = DecodeInt32(cell);  // the common case, tested first
    } else {
      StoreNumber(resultField->kind, cell, result);
    }
    return 0;
  }

  // Every query the one above does not answer: the first use of a field, a
  // key of text or float, a field past the ones kept at hand.
  SELVANE_COLD int QueryFirst(DBParam_t& key, DBParam_t& result) const {
    if (!NamesColumn(key.fieldIndex) || !NamesColumn(result.fieldIndex))
      return -1;
    const Layout& keyField = LayoutOf(key.fieldIndex);
    const Layout& resultField = LayoutOf(result.fieldIndex);
    // Both types are written, whatever the scan then finds.
    key.type = keyField.type;
    result.type = resultField.type;
    if (!keyField.located || !resultField.located) return -1;
    const std::int32_t found = First(key.fieldIndex, keyField, key);
    if (found < 0) return -1;
    return Store(resultField, found, result);
  }

  int FindAll(DBParam_t& key,
              std::vector<std::int32_t>& records) const override {
    records.clear();
    if (!NamesColumn(key.fieldIndex)) return -1;
    const Layout& field = LayoutOf(key.fieldIndex);
    key.type = field.type;
    if (!field.located) return -1;
    const KeyTable* table = IndexOf(key.fieldIndex, field);
    std::uint32_t word = 0;
    if (table == nullptr || !KeyWord(field.kind, key, &word)) return -1;
    table->FindAll(word, Verifier(*this, field, key), &records);
    return records.empty() ? -1 : 0;
  }

  // The records the header counts whose first byte lies inside the table;
  // records of no size are all the first one.
  std::int32_t RecordCount() const override {
    const std::int64_t count = std::max(header_.recordCount, 0);
    const std::int64_t body =
        static_cast<std::int64_t>(bytes_.size) - CDbcCursor::kHeaderSize;
    if (body <= 0 || count == 0) return 0;
    const std::int64_t size = header_.recordSize;
    std::int64_t inside = 1;
    if (size > 0) inside = (body + size - 1) / size;
    if (size < 0) inside = CDbcCursor::kHeaderSize / -size + 1;
    return static_cast<std::int32_t>(std::min(count, inside));
  }

  std::int32_t FieldCount() const override {
    return std::max(header_.fieldCount, 0);
  }

  int Read(std::int32_t record, DBParam_t& field) const override {
    if (record < 0 || record >= RecordCount() ||
        !NamesColumn(field.fieldIndex)) {
      return -1;
    }
    const Layout& f = LayoutOf(field.fieldIndex);
    field.type = f.type;
    if (!f.located) return -1;
    return Store(f, record, field);
  }

  std::int32_t FieldType(std::int32_t index) const override {
    return NamesColumn(index) ? LayoutOf(index).type : -1;
  }

  int FieldIndex(const std::string& name) const override {
    for (const auto& entry : fields_) {
      if (entry.second.name == name && NamesColumn(entry.first))
        return entry.first;
    }
    return -1;
  }

  std::string FieldName(std::int32_t index) const override {
    const auto it = fields_.find(index);
    return NamesColumn(index) && it != fields_.end() ? it->second.name
                                                     : std::string();
  }

  std::size_t MemoryBytes() const override {
    return bytes_.size +
           indexes_.Bytes([](const KeyTable& t) { return t.MemoryBytes(); });
  }

 private:
  using KeyTable = CKeyIndex;

  // Bytes with holes as a source that reads as the archive did: a read
  // delivers the bytes up to the first hole it meets.
  class CHoledSource final : public CByteSource {
   public:
    explicit CHoledSource(const TableBytes& bytes) : bytes_(bytes) {}
    std::uint32_t ReadAt(std::uint32_t pos, char* dst,
                         std::uint32_t n) override {
      const auto got = static_cast<std::uint32_t>(
          std::min<std::size_t>(n, bytes_.ReadableEnd(pos) - pos));
      if (got != 0) std::memcpy(dst, bytes_.data.get() + pos, got);
      return got;
    }
    std::int64_t size() const override {
      return static_cast<std::int64_t>(bytes_.size);
    }

   private:
    const TableBytes& bytes_;
  };

  // Cursors over the bytes, for one operation: in place, or through a
  // source where the bytes have holes.
  struct Reader {
    explicit Reader(const TableBytes& bytes)
        : holed(bytes), cursor(&records, &strings) {
      if (bytes.holes.empty()) {
        records.ResetMemory(bytes.data.get(), bytes.size);
        strings.ResetMemory(bytes.data.get(), bytes.size);
      } else {
        records.Reset(&holed);
        strings.Reset(&holed);
      }
    }
    CHoledSource holed;
    CReadWindow records, strings;
    CDbcCursor cursor;
  };

  // Where a field lies, as Locate finds it, worked out once; for a key
  // field, its index once built.
  struct Layout : DbcField {
    bool located = false;
    std::size_t width = 4;  // the bytes of its cell: a text's is its offset
    bool integral = false;  // an integer or a byte: its word is its value
    // Its index once built, kept here for an integral field only: Query's
    // one test. Every other field finds its index through IndexOf.
    mutable std::atomic<const KeyTable*> numberIndex{nullptr};
    // A number's cell in record 0, from the bytes' start, and how many
    // records have theirs inside the bytes (records 0 .. cellsHeld-1, the
    // record size being positive); 0 for any other field.
    std::int64_t firstCell = 0;
    std::uint32_t cellsHeld = 0;
  };

  const Layout& LayoutOf(std::int32_t index) const {
    const Layout* layout = layouts_.Get(index, [&] {
      auto made = std::make_unique<Layout>();
      made->located = CDbcCursor::Locate(fields_, index, made.get()) == 0;
      if (made->kind != ValueKind::kString) made->width = WidthOf(made->kind);
      made->integral =
          made->kind == ValueKind::kInteger || made->kind == ValueKind::kByte;
      HoldCells(made.get());
      return made;
    });
    if (layout == nullptr) throw std::bad_alloc();
    return *layout;
  }

  // Works out which records' cells of a number field the bytes hold.
  void HoldCells(Layout* field) const {
    const std::int64_t stride = header_.recordSize;
    const std::int64_t first = CDbcCursor::kHeaderSize + field->offset;
    const auto width = static_cast<std::int64_t>(field->width);
    // Cells past a hole are read by BytesAt, which checks each.
    const auto size = static_cast<std::int64_t>(bytes_.ReadableEnd(0));
    if (!field->located || field->kind == ValueKind::kString || stride <= 0 ||
        first + width > size) {
      return;
    }
    field->firstCell = first;
    field->cellsHeld = static_cast<std::uint32_t>(
        std::min<std::int64_t>((size - width - first) / stride + 1,
                               std::numeric_limits<std::int32_t>::max()));
  }

  bool NamesColumn(std::int32_t index) const {
    return index >= 0 && index < header_.fieldCount;
  }

  // The index of a located field; null without memory for one.
  const KeyTable* IndexOf(std::int32_t index, const Layout& field) const {
    const KeyTable* table = indexes_.Get(index, [&] {
      auto table = std::make_unique<KeyTable>();
      table->Reserve(static_cast<std::size_t>(RecordCount()));
      Reader reader(bytes_);
      reader.cursor.ReadHeader();
      std::int64_t at = 0;
      reader.cursor.VisitField(
          field,
          [&](std::int64_t, const char* p, std::size_t n) {
            std::uint32_t word = 0;
            if (WordOf(field.kind, p, n, &word)) {
              table->Add(word);
            } else {
              table->Skip();
            }
            return false;
          },
          &at);
      table->Finish();
      return table;
    });
    if (table != nullptr && field.integral)
      field.numberIndex.store(table, std::memory_order_release);
    return table;
  }

  // Texts share words: a candidate holds the key when its text is the key's.
  struct Verifier {
    Verifier(const CDbcSnapshot& table, const Layout& field,
             const DBParam_t& key)
        : table(table), field(field), key(key) {}
    bool operator()(std::int32_t record) const {
      if (field.kind != ValueKind::kString) return true;
      std::size_t n = 0;
      const char* text = table.ValueAt(field, record, &n);
      return text != nullptr && TextMatches(text, n, key);
    }
    const CDbcSnapshot& table;
    const Layout& field;
    const DBParam_t& key;
  };

  // The record a query's scan matches; -1 when none.
  std::int32_t First(std::int32_t index, const Layout& field,
                     const DBParam_t& key) const {
    const KeyTable* table = IndexOf(index, field);
    if (table == nullptr) {
      // No memory for an index: the query's own scan.
      Reader reader(bytes_);
      reader.cursor.ReadHeader();
      std::int64_t found = 0;
      if (reader.cursor.Find(field, key, &found) != 0) return -1;
      return static_cast<std::int32_t>(found);
    }
    std::uint32_t word = 0;
    if (!KeyWord(field.kind, key, &word)) return -1;
    // Numbers have a word of their own: the chain's first record holds them.
    if (field.kind != ValueKind::kString) return table->First(word);
    return table->Find(word, Verifier(*this, field, key));
  }

  // The field's value in record, read in place as the cursor reads it: n
  // bytes of a number, or a text without its NUL; null when it cannot be
  // read.
  const char* ValueAt(const Layout& field, std::int64_t record,
                      std::size_t* n) const {
    const char* p = CellAt(field, record);
    if (p == nullptr || field.kind != ValueKind::kString) {
      *n = field.width;
      return p;
    }
    return TextAt(p, n);
  }

  // The field's cell in record; null when the bytes do not hold it.
  const char* CellAt(const Layout& field, std::int64_t record) const {
    return BytesAt(
        CDbcCursor::kHeaderSize + record * header_.recordSize + field.offset,
        field.width);
  }

  // The text a string cell at p names, without its NUL; null when it cannot
  // be read.
  const char* TextAt(const char* p, std::size_t* n) const {
    const std::int32_t offset = DecodeInt32(p);
    if (offset < 0) return nullptr;  // would point back into the records
    const char* s = BytesAt(strings_ + offset, 1);
    if (s == nullptr) return nullptr;
    // The text and its NUL must be readable.
    const char* end =
        bytes_.data.get() +
        bytes_.ReadableEnd(static_cast<std::size_t>(s - bytes_.data.get()));
    const void* nul = std::memchr(s, '\0', static_cast<std::size_t>(end - s));
    if (nul == nullptr) return nullptr;
    *n = static_cast<std::size_t>(static_cast<const char*>(nul) - s);
    return s;
  }

  // The width bytes at pos, a position 0 .. 2^31-1; null past the end or
  // across a hole.
  const char* BytesAt(std::int64_t pos, std::size_t width) const {
    std::int32_t at = 0;
    if (!ToPosition(pos, &at) ||
        static_cast<std::size_t>(at) + width >
            bytes_.ReadableEnd(static_cast<std::size_t>(at))) {
      return nullptr;
    }
    return bytes_.data.get() + at;
  }

  int Store(const Layout& field, std::int64_t record, DBParam_t& out) const {
    const char* p = CellAt(field, record);
    if (p == nullptr) return -1;
    if (field.kind == ValueKind::kInteger) {
      out.intValue = DecodeInt32(p);
      return 0;
    }
    if (field.kind == ValueKind::kString) return StoreText(p, out);
    StoreNumber(field.kind, p, out);
    return 0;
  }

  // Store for Query, out of line: its look-up then needs no call but this.
  SELVANE_COLD int StoreFound(const Layout& field, std::int32_t record,
                              DBParam_t& out) const {
    return field.located ? Store(field, record, out) : -1;
  }

  SELVANE_COLD int StoreText(const char* cell, DBParam_t& out) const {
    std::size_t n = 0;
    const char* text = TextAt(cell, &n);
    return text != nullptr ? StoreValue(ValueKind::kString, text, n, out) : -1;
  }

  TableBytes bytes_;
  selvane::FieldMap fields_;
  DBCHeader_t header_{};
  std::int64_t strings_ = 0;  // where the string block starts
  CIndexCache<KeyTable> indexes_;
  CIndexCache<Layout> layouts_;
};

}  // namespace

TableStatus OpenDbcSnapshot(const selvane::FieldMap& fields,
                            const std::vector<std::wstring>& archives,
                            const std::string& tablePath,
                            std::unique_ptr<CTableSnapshot>* out) {
  bool anyOpened = false;
  for (const std::wstring& archive : archives) {
    std::string narrow;
    if (!NarrowExact(archive, &narrow)) continue;
    CArchiveTable table;
    if (table.Open(narrow, tablePath) != 0) {
      // A table held but unreadable serves no answers; older copies in
      // later archives are not put in its place.
      const CArchiveTable::Failure why = table.failure();
      if (why == CArchiveTable::Failure::kRefused)
        return TableStatus::kFileUnopenable;
      anyOpened = anyOpened || why == CArchiveTable::Failure::kNoTable;
      continue;
    }
    TableBytes bytes;
    const TableStatus read = ReadTable(table, narrow, &bytes);
    if (read != TableStatus::kOpen) return read;
    auto snapshot = std::make_unique<CDbcSnapshot>(std::move(bytes), fields);
    if (!snapshot->Load()) return TableStatus::kHeaderUnreadable;
    *out = std::move(snapshot);
    return TableStatus::kOpen;
  }
  return anyOpened ? TableStatus::kTableNotFound : TableStatus::kFileUnopenable;
}
