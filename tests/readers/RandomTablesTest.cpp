// Seeded random tables, damaged ones included, and random lookups in them:
// every answer of the readers (files and archives, plain and compressed)
// and of the cursors over memory must equal the reference decoder's, down
// to the type members and the result's untouched values on failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "readers/Coding.h"
#include "readers/DBCFileWrapper.h"
#include "readers/DbcCursor.h"
#include "readers/WDBFileWrapper.h"
#include "readers/WdbCursor.h"
#include "tests/support/MpqBuilder.h"
#include "tests/support/ReferenceDecoder.h"
#include "tests/support/TempDir.h"
#include "tests/support/UntoldSource.h"

namespace {

// A query's whole outcome.
struct Outcome {
  int rc = -1;
  DBParam_t key, result;
};

bool operator==(const DBParam_t& a, const DBParam_t& b) {
  return a.fieldIndex == b.fieldIndex && a.type == b.type &&
         a.intValue == b.intValue && a.strValue == b.strValue &&
         std::memcmp(&a.floatValue, &b.floatValue, sizeof a.floatValue) == 0;
}

void ExpectSame(const Outcome& want, const Outcome& got, const char* who) {
  EXPECT_EQ(want.rc, got.rc) << who;
  EXPECT_TRUE(want.key == got.key)
      << who << ": key type " << got.key.type << ", want " << want.key.type;
  EXPECT_TRUE(want.result == got.result)
      << who << ": result type " << got.result.type << " int "
      << got.result.intValue << " text \"" << got.result.strValue
      << "\"; want type " << want.result.type << " int " << want.result.intValue
      << " text \"" << want.result.strValue << "\"";
}

class Random {
 public:
  explicit Random(std::uint32_t seed) : gen_(seed) {}
  // 0 .. n-1
  std::int32_t Below(std::int32_t n) {
    return std::uniform_int_distribution<std::int32_t>(0, n - 1)(gen_);
  }
  bool OneIn(std::int32_t n) { return Below(n) == 0; }
  template <typename T>
  const T& Pick(const std::vector<T>& v) {
    return v[static_cast<std::size_t>(
        Below(static_cast<std::int32_t>(v.size())))];
  }
  std::string Text() {
    // Mostly from a small pool, so that keys match; now and then long
    // enough to cross the windows' refills.
    static const std::vector<std::string> kPool = {
        "", "a", "ab", "Sword", "Sword of Light", "b"};
    if (OneIn(40))
      return std::string(static_cast<std::size_t>(Below(9000)), 'x');
    return Pick(kPool);
  }
  std::int32_t Int() { return Below(6) - 1; }
  float Float() { return static_cast<float>(Below(5)) * 0.5f - 0.5f; }
  std::string Bytes(std::int32_t n) {
    std::string s;
    for (std::int32_t i = 0; i < n; ++i)
      s.push_back(static_cast<char>(Below(256)));
    return s;
  }

 private:
  std::mt19937 gen_;
};

void PutInt(std::string& out, std::int32_t v) {
  std::uint32_t u = 0;
  std::memcpy(&u, &v, 4);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(u >> (8 * i)));
}
void PutFloat(std::string& out, float f) {
  std::int32_t v = 0;
  std::memcpy(&v, &f, 4);
  PutInt(out, v);
}

selvane::FieldAttr_t Attr(std::int32_t type, std::int32_t size,
                          std::int32_t skipbyte = 0) {
  selvane::FieldAttr_t f;
  f.type = type;
  f.size = size;
  f.skipbyte = skipbyte;
  return f;
}

// A key or result as a host passes it: every member set to something no
// reader writes, the key holding a value of any type.
DBParam_t Param(Random& r, std::int32_t index) {
  DBParam_t p;
  p.fieldIndex = index;
  p.type = 99;
  p.intValue = r.Int();
  p.floatValue = r.Float();
  p.strValue = r.Text();
  return p;
}
std::int32_t Index(Random& r, std::int32_t count) {
  return r.OneIn(15) ? r.Below(count + 3) - 1 : r.Below(count);
}

// Cuts a table short now and then, at any length.
void MaybeTruncate(Random& r, std::string* bytes) {
  if (r.OneIn(4)) {
    bytes->resize(static_cast<std::size_t>(
        r.Below(static_cast<std::int32_t>(bytes->size()) + 1)));
  }
}

// --- WDB -------------------------------------------------------------------

selvane::FieldMap RandomWdbFields(Random& r) {
  const std::vector<selvane::FieldAttr_t> kinds = {
      Attr(selvane::kTypeInteger, 4),   Attr(selvane::kTypeFloat, 4),
      Attr(selvane::kTypeByte, 1),      Attr(selvane::kTypeCString, 0),
      Attr(selvane::kTypeAmount, 2, 3), Attr(selvane::kTypeString, 4),
      Attr(selvane::kTypeNone, 4),      Attr(selvane::kTypeInteger, 0),
      Attr(selvane::kTypeBit, -2)};
  selvane::FieldMap fields;
  fields[0] = Attr(selvane::kTypeInteger, 4);
  fields[1] = Attr(selvane::kTypeInteger, 4);
  const std::int32_t n = 1 + r.Below(6);
  std::int32_t position = 2;
  for (std::int32_t i = 0; i < n; ++i) {
    position += r.OneIn(8) ? 1 + r.Below(3) : 0;  // the walk counts entries
    selvane::FieldAttr_t f = i < 5 && r.Below(3) == 0
                                 ? kinds[static_cast<std::size_t>(r.Below(4))]
                                 : r.Pick(kinds);
    if (r.OneIn(10)) {
      // A walk that steps before the file and back: each step must land
      // on a position.
      fields[position] = Attr(selvane::kTypeNone, -200);
      fields[position].position = position;
      ++position;
      f = Attr(selvane::kTypeAmount, 180, 24);
    }
    f.position = position;
    fields[position++] = f;
  }
  return fields;
}

std::string RandomWdbFile(Random& r, const selvane::FieldMap& fields) {
  std::string file = "WDBX" + std::string(16, '\0');
  const std::int32_t records = r.OneIn(10) ? 2000 + r.Below(3000) : r.Below(60);
  for (std::int32_t j = 0; j < records; ++j) {
    std::string data;
    std::int32_t i = 0;
    for (const auto& entry : fields) {
      if (i++ < 2) continue;
      const selvane::FieldAttr_t& f = entry.second;
      switch (f.type) {
        case selvane::kTypeInteger:
          PutInt(data, r.Int());
          break;
        case selvane::kTypeFloat:
          PutFloat(data, r.Float());
          break;
        case selvane::kTypeByte:
          data.push_back(static_cast<char>(r.Int()));
          break;
        case selvane::kTypeCString:
          data += r.Text();
          data.push_back('\0');
          break;
        default:
          data += r.Bytes(r.Below(6));
          break;
      }
    }
    PutInt(file, r.OneIn(4) ? r.Int() : j);
    const auto length = static_cast<std::int32_t>(data.size());
    PutInt(file, r.OneIn(50) ? length - r.Below(12) : length);
    file += data;
  }
  MaybeTruncate(r, &file);
  return file;
}

Outcome WdbReader(const std::string& path, const selvane::FieldMap& fields,
                  Outcome o) {
  CWDBFileWrapper reader;
  if (reader.Open(Widen(path)) == 0 && reader.SetDefinition(&fields) == 0) {
    o.rc = reader.Query(o.key, o.result);
  }
  return o;
}

// The cursor over memory, or over a small window when small_window is set,
// asked as the reader asks it; its visit must stop on the record its Find
// stops on.
Outcome WdbMemory(const std::string& file, const selvane::FieldMap& fields,
                  Outcome o, bool small_window = false) {
  UntoldSource source(file);
  CReadWindow window(small_window ? 8 * 1024 : CReadWindow::kDefaultCapacity);
  if (small_window) {
    window.Reset(&source);
  } else {
    window.ResetMemory(file.data(), file.size());
  }
  CWdbCursor cursor(&window);
  WDBHeader_t header;
  if (cursor.ReadHeader(&header) != 0 ||
      !CWdbField::Names(fields, o.key.fieldIndex) ||
      !CWdbField::Names(fields, o.result.fieldIndex)) {
    return o;
  }
  const CWdbField key(fields, o.key.fieldIndex);
  const CWdbField result(fields, o.result.fieldIndex);
  WdbRecord found;
  DBParam_t probe = o.key;
  const int find = cursor.Find(key, o.key, &found);
  std::int32_t visited_at = -1;
  std::int64_t framed = 0;
  const int visit = cursor.VisitField(
      key,
      [&](const WdbRecord& record, const char* p, std::size_t n) {
        const bool hit = key.kind() == ValueKind::kString
                             ? TextMatches(p, n, probe)
                             : NumberMatches(key.kind(), p, probe);
        if (hit) visited_at = record.start;
        return hit;
      },
      &framed);
  EXPECT_EQ(find == 0, visit == 1);
  if (find == 0) {
    EXPECT_EQ(found.start, visited_at);
  }
  if (find != 0) return o;
  o.result.type = result.type();
  o.rc = cursor.Store(found, result, o.result);
  return o;
}

TEST(RandomTablesTest, WdbAnswersEqualTheReference) {
  TempDir dir;
  for (std::uint32_t seed = 1; seed <= 150; ++seed) {
    Random r(seed);
    const selvane::FieldMap fields = RandomWdbFields(r);
    const std::string file = RandomWdbFile(r, fields);
    const std::string path = dir.Write("t.wdb", file);
    const auto count = static_cast<std::int32_t>(fields.size());
    for (int q = 0; q < 12; ++q) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " query " +
                   std::to_string(q));
      Outcome asked;
      asked.key = Param(r, Index(r, count));
      asked.result = Param(r, Index(r, count));
      Outcome want = asked;
      want.rc = reference::QueryWdb(file, fields, want.key, want.result);
      ExpectSame(want, WdbReader(path, fields, asked), "reader");
      ExpectSame(want, WdbMemory(file, fields, asked), "memory cursor");
      ExpectSame(want, WdbMemory(file, fields, asked, true), "small window");
    }
  }
}

// The NUL search the WDB walks use, against memchr: every start and length
// over buffers with NULs rare, common or absent.
TEST(RandomTablesTest, FindNulAgreesWithMemchr) {
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    Random r(seed);
    const std::int32_t one_in = 1 + r.Below(60);
    std::string bytes(static_cast<std::size_t>(r.Below(100)), 'x');
    for (char& c : bytes) {
      if (r.OneIn(one_in)) c = '\0';
    }
    for (std::size_t at = 0; at <= bytes.size(); ++at) {
      for (std::size_t n = 0; at + n <= bytes.size(); ++n) {
        const char* p = bytes.data() + at;
        ASSERT_EQ(std::memchr(p, '\0', n), FindNul(p, n))
            << "seed " << seed << " at " << at << " n " << n;
      }
    }
  }
}

// --- DBC -------------------------------------------------------------------

struct DbcTable {
  selvane::FieldMap fields;
  std::string bytes;
};

DbcTable RandomDbcTable(Random& r) {
  DbcTable t;
  const std::vector<selvane::FieldAttr_t> kinds = {
      Attr(selvane::kTypeInteger, 4), Attr(selvane::kTypeString, 4),
      Attr(selvane::kTypeFloat, 4),   Attr(selvane::kTypeByte, 1),
      Attr(selvane::kTypeNone, 4),    Attr(selvane::kTypeBit, 4),
      Attr(selvane::kTypeCString, 4), Attr(selvane::kTypeAmount, 4),
      Attr(selvane::kTypeInteger, 0)};
  const std::int32_t columns = 1 + r.Below(6);
  std::vector<std::int32_t> types, sizes;
  std::int32_t record_size = 0;
  for (std::int32_t i = 0; i < columns; ++i) {
    selvane::FieldAttr_t f = r.Below(3) != 0
                                 ? kinds[static_cast<std::size_t>(r.Below(4))]
                                 : r.Pick(kinds);
    f.position = i;
    if (!r.OneIn(8)) t.fields[i] = f;  // an unlisted column reads as 4 bytes
    const std::int32_t size = r.OneIn(8) ? 4 : f.size;
    types.push_back(r.OneIn(8) ? selvane::kTypeInteger : f.type);
    sizes.push_back(t.fields.count(i) ? size : 4);
    record_size += sizes.back();
  }
  // The string block first, so that records can point into it.
  std::string block(1, '\0');
  std::vector<std::int32_t> offsets = {0};
  for (int i = 0; i < 8; ++i) {
    offsets.push_back(static_cast<std::int32_t>(block.size()));
    block += r.Text();
    block.push_back('\0');
  }
  if (r.OneIn(6)) block += "unterminated";
  const std::int32_t records =
      r.OneIn(10) ? 5000 + r.Below(20000) : r.Below(80);
  std::string body;
  for (std::int32_t j = 0; j < records; ++j) {
    for (std::size_t i = 0; i < types.size(); ++i) {
      std::string cell;
      switch (types[i]) {
        case selvane::kTypeString:
          PutInt(cell, r.OneIn(40) ? r.Below(400) - 20 : r.Pick(offsets));
          break;
        case selvane::kTypeFloat:
          PutFloat(cell, r.Float());
          break;
        case selvane::kTypeByte:
          cell.push_back(static_cast<char>(r.Int()));
          break;
        default:
          PutInt(cell, r.OneIn(3) ? j : r.Int());
          break;
      }
      cell.resize(static_cast<std::size_t>(sizes[i]), '\0');
      body += cell;
    }
  }
  std::string header = "WDBC";
  PutInt(header, r.OneIn(12) ? records + r.Below(5) - 2 : records);
  PutInt(header, r.OneIn(12) ? columns + r.Below(3) - 1 : columns);
  PutInt(header, r.OneIn(15) ? r.Below(record_size + 3) : record_size);
  PutInt(header, static_cast<std::int32_t>(block.size()));
  t.bytes = header + body + block;
  MaybeTruncate(r, &t.bytes);
  return t;
}

Outcome DbcReader(const std::string& archive, const selvane::FieldMap& fields,
                  Outcome o) {
  CDBCFileWrapper reader;
  if (reader.Open(Widen(archive), "Tables\\T.dbc") == 0 &&
      reader.SetDefinition(&fields) == 0) {
    o.rc = reader.Query(o.key, o.result);
  }
  return o;
}

Outcome DbcMemory(const std::string& table, const selvane::FieldMap& fields,
                  Outcome o) {
  CReadWindow records, strings;
  records.ResetMemory(table.data(), table.size());
  strings.ResetMemory(table.data(), table.size());
  CDbcCursor cursor(&records, &strings);
  if (cursor.ReadHeader() != 0 || !cursor.NamesColumn(o.key.fieldIndex) ||
      !cursor.NamesColumn(o.result.fieldIndex)) {
    return o;
  }
  DbcField key, result;
  const int located = CDbcCursor::Locate(fields, o.key.fieldIndex, &key) |
                      CDbcCursor::Locate(fields, o.result.fieldIndex, &result);
  o.key.type = key.type;
  o.result.type = result.type;
  if (located != 0) return o;
  std::int64_t found = 0, visited_at = -1;
  const int find = cursor.Find(key, o.key, &found);
  const int visit = cursor.VisitField(
      key,
      [&](std::int64_t, const char* p, std::size_t n) {
        return key.kind == ValueKind::kString
                   ? TextMatches(p, n, o.key)
                   : NumberMatches(key.kind, p, o.key);
      },
      &visited_at);
  EXPECT_EQ(find == 0, visit == 1);
  if (find == 0) {
    EXPECT_EQ(found, visited_at);
  }
  if (find != 0) return o;
  o.rc = cursor.Store(result, found, o.result);
  return o;
}

TEST(RandomTablesTest, DbcAnswersEqualTheReference) {
  TempDir dir;
  for (std::uint32_t seed = 1; seed <= 120; ++seed) {
    Random r(seed);
    const DbcTable t = RandomDbcTable(r);
    const auto storage =
        r.OneIn(2) ? MpqBuilder::Storage::kZlib : MpqBuilder::Storage::kPlain;
    const std::string archive = dir.File("t.mpq");
    MpqBuilder().Add("Tables\\T.dbc", t.bytes, storage).Write(archive);
    const std::int32_t columns = 1 + static_cast<std::int32_t>(t.fields.size());
    for (int q = 0; q < 10; ++q) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " query " +
                   std::to_string(q));
      Outcome asked;
      asked.key = Param(r, Index(r, columns));
      asked.result = Param(r, Index(r, columns));
      Outcome want = asked;
      want.rc = reference::QueryDbc(t.bytes, t.fields, want.key, want.result);
      ExpectSame(want, DbcReader(archive, t.fields, asked), "reader");
      ExpectSame(want, DbcMemory(t.bytes, t.fields, asked), "memory cursor");
    }
  }
}

// Readers open at once each answer for their own table, however they open,
// reopen and close around each other: a table read whole lands in a buffer
// that is reused from one reader to the next.
TEST(RandomTablesTest, DbcReadersOpenAtOnceAnswerForTheirOwnTables) {
  TempDir dir;
  Random r(20261209);
  constexpr int kTables = 4;
  std::vector<DbcTable> tables;
  std::vector<std::string> archives;
  for (int i = 0; i < kTables; ++i) {
    tables.push_back(RandomDbcTable(r));
    archives.push_back(dir.File("t" + std::to_string(i) + ".mpq"));
    MpqBuilder()
        .Add("Tables\\T.dbc", tables.back().bytes)
        .Write(archives.back());
  }
  std::vector<std::unique_ptr<CDBCFileWrapper>> readers(kTables);
  std::vector<bool> open(kTables, false);
  for (int step = 0; step < 300; ++step) {
    const auto i = static_cast<std::size_t>(r.Below(kTables));
    SCOPED_TRACE("step " + std::to_string(step) + " table " +
                 std::to_string(i));
    const DbcTable& t = tables[i];
    auto& reader = readers[i];
    // A closed reader is made anew; an open one is now and then reopened.
    if (!reader || r.OneIn(6)) {
      if (!reader) reader = std::make_unique<CDBCFileWrapper>();
      open[i] = reader->Open(Widen(archives[i]), "Tables\\T.dbc") == 0 &&
                reader->SetDefinition(&t.fields) == 0;
    }
    const std::int32_t columns = 1 + static_cast<std::int32_t>(t.fields.size());
    Outcome got;
    got.key = Param(r, Index(r, columns));
    got.result = Param(r, Index(r, columns));
    Outcome want = got;
    want.rc = reference::QueryDbc(t.bytes, t.fields, want.key, want.result);
    if (open[i]) {
      got.rc = reader->Query(got.key, got.result);
    }
    ExpectSame(want, got, "reader beside others");
    // Often enough that several are closed, then made anew one after another.
    if (r.OneIn(3)) readers[static_cast<std::size_t>(r.Below(kTables))].reset();
  }
}

}  // namespace
