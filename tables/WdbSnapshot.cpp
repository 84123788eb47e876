// A WDB cache file in memory: its bytes, where each record starts, and an
// index per key field asked for, all read through the WDB record cursor.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>

#include "query/PathUtil.h"
#include "readers/Coding.h"
#include "readers/ReadWindow.h"
#include "readers/SharedFile.h"
#include "readers/WdbCursor.h"
#include "tables/IndexCache.h"
#include "tables/KeyIndex.h"
#include "tables/KeyWords.h"
#include "tables/TableSnapshot.h"

namespace {

using selvane::TableStatus;

constexpr std::int32_t kFirstDataIndex = 2;
// Positions are 32-bit: no byte past 2^31-1 is ever read.
constexpr std::uint64_t kMaxBytes = CReadWindow::kMaxPosition;

TableStatus ReadFile(const std::string& path, TableBytes* bytes) {
  // Shared and opened by its wide form on Windows, as the WDB reader opens it.
  CSharedFile in;
  in.Open(path);
  if (!in.IsOpen()) return TableStatus::kFileUnopenable;
  const auto size =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(in.size(), kMaxBytes));
  bytes->data.reset(new (std::nothrow) char[size + kTablePadding]);
  if (!bytes->data) return TableStatus::kOutOfMemory;
  // A file cut short meanwhile keeps what was read.
  bytes->size = in.ReadAt(0, size, bytes->data.get());
  std::memset(bytes->data.get() + bytes->size, 0, kTablePadding);
  return TableStatus::kOpen;
}

class CWdbSnapshot final : public CTableSnapshot {
 public:
  CWdbSnapshot(TableBytes bytes, const selvane::FieldMap& fields)
      : bytes_(std::move(bytes)), fields_(fields) {
    for (const auto& entry : fields_) order_.push_back(&entry.second);
  }

  // Reads the header and lists the records; false when the header is short.
  bool Load() {
    Reader reader(bytes_);
    WDBHeader_t header;
    if (reader.cursor.ReadHeader(&header) != 0) return false;
    std::int64_t framed = 0;
    reader.cursor.VisitField(
        CWdbField(fields_, 0),
        [this](const WdbRecord& record, const char*, std::size_t) {
          starts_.push_back(record.start);
          return false;
        },
        &framed);
    starts_.shrink_to_fit();
    return true;
  }

  // Once both fields were used before and the key field, a readable
  // integer or byte, has its index: the hash look-up and one read, with the
  // writes and answers of QueryFirst.
  int Query(DBParam_t& key, DBParam_t& result) const override {
    const Column* keyColumn = columns_.Peek(key.fieldIndex);
    const Column* resultColumn = columns_.Peek(result.fieldIndex);
    const KeyTable* table =
        keyColumn != nullptr
            ? keyColumn->numberIndex.load(std::memory_order_acquire)
            : nullptr;
    if (table == nullptr || resultColumn == nullptr)
      return QueryFirst(key, result);
    std::int32_t start = 0;
    const std::int32_t found = table->hash.FirstTagged(
        CKeyIndex::IntegerWord(key.intValue), starts_.data(), &start);
    WriteKeyType(keyColumn->field, *table, key, found >= 0);
    if (found < 0) return -1;
    const CWdbField& resultField = resultColumn->field;
    result.type = resultField.type();
    const char* value =
        resultColumn->inPlace
            ? resultColumn->place.Find(bytes_.data.get(), bytes_.size, start)
            : nullptr;
    if (value == nullptr) return StoreFound(found, resultField, result);
    StoreNumber(resultColumn->place.kind(), value, result);
    return 0;
  }

  // Every query the one above does not answer: the first use of a field, a
  // key of text or float or of no value, a field past the ones kept at hand.
  SELVANE_COLD int QueryFirst(DBParam_t& key, DBParam_t& result) const {
    if (!CWdbField::Names(fields_, key.fieldIndex) ||
        !CWdbField::Names(fields_, result.fieldIndex)) {
      return -1;
    }
    const std::int32_t found = First(FieldOf(key.fieldIndex), key);
    if (found < 0) return -1;
    const CWdbField& resultField = FieldOf(result.fieldIndex);
    result.type = resultField.type();
    return Store(found, resultField, result);
  }

  int FindAll(DBParam_t& key,
              std::vector<std::int32_t>& records) const override {
    records.clear();
    if (!CWdbField::Names(fields_, key.fieldIndex)) return -1;
    const CWdbField& field = FieldOf(key.fieldIndex);
    const KeyTable* table = IndexOf(field);
    if (table == nullptr) return -1;
    WriteKeyType(field, *table, key, false);
    std::uint32_t word = 0;
    if (!field.readable() || !KeyWord(field.kind(), key, &word)) return -1;
    table->hash.FindAll(word, Verifier(*this, field, key), &records);
    if (records.empty()) return -1;
    WriteKeyType(field, *table, key, true);
    return 0;
  }

  std::int32_t RecordCount() const override {
    return static_cast<std::int32_t>(starts_.size());
  }

  std::int32_t FieldCount() const override {
    return static_cast<std::int32_t>(std::min<std::size_t>(
        fields_.size(), std::numeric_limits<std::int32_t>::max()));
  }

  int Read(std::int32_t record, DBParam_t& field) const override {
    if (record < 0 || record >= RecordCount() ||
        !CWdbField::Names(fields_, field.fieldIndex)) {
      return -1;
    }
    const CWdbField& f = FieldOf(field.fieldIndex);
    field.type = f.type();
    return Store(record, f, field);
  }

  std::int32_t FieldType(std::int32_t index) const override {
    return CWdbField::Names(fields_, index) ? FieldOf(index).type() : -1;
  }

  int FieldIndex(const std::string& name) const override {
    for (std::size_t i = 0; i < order_.size(); ++i) {
      if (order_[i]->name == name) return static_cast<int>(i);
    }
    return -1;
  }

  std::string FieldName(std::int32_t index) const override {
    return CWdbField::Names(fields_, index)
               ? order_[static_cast<std::size_t>(index)]->name
               : std::string();
  }

  std::size_t MemoryBytes() const override {
    return bytes_.size + starts_.capacity() * sizeof(std::int32_t) +
           indexes_.Bytes(
               [](const KeyTable& t) { return t.hash.MemoryBytes(); });
  }

 private:
  // A cursor over the bytes, for one operation.
  struct Reader {
    explicit Reader(const TableBytes& bytes) : cursor(&window) {
      window.ResetMemory(bytes.data.get(), bytes.size);
    }
    CReadWindow window;
    CWdbCursor cursor;
  };

  // One key field's index, and how far its scan framed records.
  struct KeyTable {
    CKeyIndex hash;
    std::int64_t framed = 0;
  };

  // The walk to a field, and its index once built.
  struct Column {
    Column(const selvane::FieldMap& fields, std::int32_t index)
        : field(fields, index),
          place(field),
          integral(IsIntegral(field)),
          inPlace(ReadsInPlace(field) && place.valid()) {}
    CWdbField field;
    CWdbNumberPlace place;
    bool integral;  // readable, and its word is its value
    bool inPlace;   // see ReadsInPlace; and Query reads it at its place
    // Its index once built, kept here for an integral field only: Query's
    // one test. Every other field finds its index through IndexOf.
    mutable std::atomic<const KeyTable*> numberIndex{nullptr};
  };

  const Column& ColumnOf(std::int32_t index) const {
    const Column* column = columns_.Get(
        index, [&] { return std::make_unique<Column>(fields_, index); });
    if (column == nullptr) throw std::bad_alloc();
    return *column;
  }

  // The walk to field index (one the definitions name), made once.
  const CWdbField& FieldOf(std::int32_t index) const {
    return ColumnOf(index).field;
  }

  // The field's index; null without memory for one.
  const KeyTable* IndexOf(const CWdbField& field) const {
    const KeyTable* table = indexes_.Get(field.index(), [&] {
      auto table = std::make_unique<KeyTable>();
      table->hash.Reserve(starts_.size());
      Reader reader(bytes_);
      reader.cursor.VisitField(
          field,
          [&](const WdbRecord&, const char* p, std::size_t n) {
            std::uint32_t word = 0;
            if (WordOf(field.kind(), p, n, &word)) {
              table->hash.Add(word);
            } else {
              table->hash.Skip();
            }
            return false;
          },
          &table->framed);
      table->hash.Finish();
      // Query reads an integral key's record start from its index.
      if (IsIntegral(field)) table->hash.TagDense(starts_);
      return table;
    });
    if (table != nullptr) {
      const Column& column = ColumnOf(field.index());
      if (column.integral)
        column.numberIndex.store(table, std::memory_order_release);
    }
    return table;
  }

  // The key's type as a scan leaves it: a data field's type once a record
  // was framed; the framing words' type on a match only.
  static void WriteKeyType(const CWdbField& field, const KeyTable& table,
                           DBParam_t& key, bool matched) {
    if (field.index() >= kFirstDataIndex) {
      if (table.framed > 0) key.type = field.type();
    } else if (matched) {
      key.type = selvane::kTypeInteger;
    }
  }

  // Texts share words: a candidate holds the key when its text is the key's.
  struct Verifier {
    Verifier(const CWdbSnapshot& table, const CWdbField& field,
             const DBParam_t& key)
        : table(table), field(field), key(key) {}
    bool operator()(std::int32_t record) const {
      if (field.kind() != ValueKind::kString) return true;
      std::size_t n = 0;
      const char* text = table.InPlace(record, field, &n);
      if (text != nullptr) return TextMatches(text, n, key);
      DBParam_t read;
      return table.Store(record, field, read) == 0 &&
             read.strValue == key.strValue;
    }
    const CWdbSnapshot& table;
    const CWdbField& field;
    const DBParam_t& key;
  };

  // The record a query's scan stops on with a match, writing the key's type
  // as it does; -1 when none.
  std::int32_t First(const CWdbField& field, DBParam_t& key) const {
    const KeyTable* table = IndexOf(field);
    if (table == nullptr) return Scan(field, key);
    std::uint32_t word = 0;
    const std::int32_t found =
        field.readable() && KeyWord(field.kind(), key, &word)
            ? FindFirst(table->hash, word, field, key)
            : CKeyIndex::kNone;
    WriteKeyType(field, *table, key, found >= 0);
    return found;
  }

  // Numbers have a word of their own: the chain's first record holds them.
  std::int32_t FindFirst(const CKeyIndex& hash, std::uint32_t word,
                         const CWdbField& field, const DBParam_t& key) const {
    if (field.kind() != ValueKind::kString) return hash.First(word);
    return hash.Find(word, Verifier(*this, field, key));
  }

  // Without an index (no memory for one): the query's own scan.
  std::int32_t Scan(const CWdbField& field, DBParam_t& key) const {
    Reader reader(bytes_);
    WdbRecord found;
    if (reader.cursor.Find(field, key, &found) != 0) return -1;
    const auto it =
        std::lower_bound(starts_.begin(), starts_.end(), found.start);
    return static_cast<std::int32_t>(it - starts_.begin());
  }

  // A data field's value read in place from the bytes held, as a scan reads
  // it; null when the walk moves back or leaves the bytes (Store then walks
  // as a query does).
  const char* InPlace(std::int32_t record, const CWdbField& field,
                      std::size_t* n) const {
    return ReadsInPlace(field) ? ValueAt(record, field, n) : nullptr;
  }

  // A readable integer or byte field: its word is its value.
  static bool IsIntegral(const CWdbField& field) {
    return field.readable() && (field.kind() == ValueKind::kInteger ||
                                field.kind() == ValueKind::kByte);
  }

  // A readable data field whose walk only moves forward.
  static bool ReadsInPlace(const CWdbField& field) {
    return field.index() >= kFirstDataIndex && field.readable() &&
           field.forward();
  }

  // InPlace for a field that ReadsInPlace.
  const char* ValueAt(std::int32_t record, const CWdbField& field,
                      std::size_t* n) const {
    const char* base = bytes_.data.get();
    // A listed record's framing words lie inside the bytes.
    const char* data = base + starts_[static_cast<std::size_t>(record)] + 8;
    return CWdbCursor::ValueInPlace(data, base + bytes_.size, field, n);
  }

  int Store(std::int32_t record, const CWdbField& field, DBParam_t& out) const {
    std::size_t n = 0;
    const char* value = InPlace(record, field, &n);
    if (value == nullptr) return StoreThroughCursor(record, field, out);
    if (field.kind() == ValueKind::kString) return StoreText(value, n, out);
    StoreNumber(field.kind(), value, out);
    return 0;
  }

  // Store for Query, out of line: its look-up then needs no call but this.
  SELVANE_COLD int StoreFound(std::int32_t record, const CWdbField& field,
                              DBParam_t& out) const {
    return Store(record, field, out);
  }

  SELVANE_COLD static int StoreText(const char* text, std::size_t n,
                                    DBParam_t& out) {
    return StoreValue(ValueKind::kString, text, n, out);
  }

  // Store for a value not read in place: the cursor walks as a query does.
  SELVANE_COLD int StoreThroughCursor(std::int32_t record,
                                      const CWdbField& field,
                                      DBParam_t& out) const {
    WdbRecord r;
    r.start = starts_[static_cast<std::size_t>(record)];
    const char* frame = bytes_.data.get() + r.start;
    r.id = DecodeInt32(frame);
    r.length = DecodeInt32(frame + 4);
    Reader reader(bytes_);
    return reader.cursor.Store(r, field, out);
  }

  TableBytes bytes_;
  selvane::FieldMap fields_;
  std::vector<const selvane::FieldAttr_t*> order_;  // field index to definition
  std::vector<std::int32_t> starts_;                // record index to its start
  CIndexCache<KeyTable> indexes_;
  CIndexCache<Column> columns_;
};

}  // namespace

TableStatus OpenWdbSnapshot(const selvane::FieldMap& fields,
                            const std::wstring& path,
                            std::unique_ptr<CTableSnapshot>* out) {
  std::string narrow;
  if (!NarrowExact(path, &narrow)) return TableStatus::kFileUnopenable;
  TableBytes bytes;
  const TableStatus read = ReadFile(narrow, &bytes);
  if (read != TableStatus::kOpen) return read;
  auto snapshot = std::make_unique<CWdbSnapshot>(std::move(bytes), fields);
  if (!snapshot->Load()) return TableStatus::kHeaderUnreadable;
  *out = std::move(snapshot);
  return TableStatus::kOpen;
}
