#include "readers/DBCFileWrapper.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#ifdef __linux__
#include <fcntl.h>
#endif

#include "tests/support/DbcBuilder.h"
#include "tests/support/MpqBuilder.h"
#include "tests/support/TempDir.h"

namespace {

using Storage = MpqBuilder::Storage;

constexpr std::int32_t kMaxInt = std::numeric_limits<std::int32_t>::max();
// What a result record holds before a query, to see which member changes.
constexpr std::int32_t kUntouchedInt = -777;
constexpr float kUntouchedFloat = -7.25f;
const char kUntouchedText[] = "keep";

FieldAttr_t Field(std::int32_t type, std::int32_t size = 4) {
  FieldAttr_t f;
  f.type = type;
  f.size = size;
  return f;
}

DBParam_t IntKey(std::int32_t index, std::int32_t value) {
  DBParam_t p;
  p.fieldIndex = index;
  p.type = 99;
  p.intValue = value;
  return p;
}

DBParam_t FloatKey(std::int32_t index, float value) {
  DBParam_t p = IntKey(index, 0);
  p.floatValue = value;
  return p;
}

DBParam_t TextKey(std::int32_t index, const std::string& value) {
  DBParam_t p = IntKey(index, 0);
  p.strValue = value;
  return p;
}

DBParam_t Want(std::int32_t index) {
  DBParam_t p;
  p.fieldIndex = index;
  p.type = 99;
  p.intValue = kUntouchedInt;
  p.strValue = kUntouchedText;
  p.floatValue = kUntouchedFloat;
  return p;
}

void ExpectUntouched(const DBParam_t& r) {
  EXPECT_EQ(kUntouchedInt, r.intValue);
  EXPECT_EQ(kUntouchedText, r.strValue);
  EXPECT_EQ(kUntouchedFloat, r.floatValue);
}

// Where a table is stored: plain at the archive's root, or compressed in a
// folder.
struct Layout {
  Storage storage;
  const char* table;
};

void PrintTo(const Layout& layout, std::ostream* os) {
  *os << (layout.storage == Storage::kPlain ? "plain " : "zlib ")
      << layout.table;
}

std::string LayoutName(const ::testing::TestParamInfo<Layout>& info) {
  return info.param.storage == Storage::kPlain ? "PlainAtRoot" : "ZlibInFolder";
}

const Layout kLayouts[] = {{Storage::kPlain, "Items.dbc"},
                           {Storage::kZlib, "Tables\\Items.dbc"}};

class DbcReaderTest : public ::testing::TestWithParam<Layout> {
 protected:
  // Stores the table in a fresh archive, which the lookups then read.
  void Store(const DbcBuilder& table) { StoreBytes(table.Build()); }
  void StoreBytes(const std::string& bytes) {
    archive_ = dir_.File("a" + std::to_string(archives_++) + ".mpq");
    MpqBuilder()
        .Add(GetParam().table, bytes, GetParam().storage)
        .Write(archive_);
  }

  int Lookup(const FieldMap& fields, DBParam_t& key, DBParam_t& result) {
    CDBCFileWrapper reader;
    EXPECT_EQ(0, reader.Open(Widen(archive_), GetParam().table));
    EXPECT_EQ(0, reader.SetDefinition(&fields));
    return reader.Query(key, result);
  }

  TempDir dir_;
  std::string archive_;
  int archives_ = 0;
};

INSTANTIATE_TEST_SUITE_P(Layouts, DbcReaderTest, ::testing::ValuesIn(kLayouts),
                         LayoutName);

// ---------------------------------------------------------------------------
// Field offsets come from the sizes of the fields before them.

// Four defined fields, the last without a size, as a definition file gives
// them: a fifth position, not listed, lies where the fourth does.
FieldMap SampleFields() {
  return FieldMap{{0, Field(kTypeInteger)},
                  {1, Field(kTypeString)},
                  {2, Field(kTypeFloat)},
                  {3, Field(kTypeByte, 0)}};
}

DbcBuilder SampleTable() {
  DbcBuilder t;
  t.Record({Int(1), Str("Sword"), Float(1.5f), Byte(0x05), Raw("\x11\x22\x33")})
      .Record(
          {Int(2), Str("Axe"), Float(2.25f), Byte(0xC8), Raw("\x11\x22\x33")})
      .Record(
          {Int(3), Str("Bow"), Float(3.0f), Byte(0xFF), Raw("\x11\x22\x33")})
      .FieldCount(5);
  return t;
}

TEST_P(DbcReaderTest, SampleTableFieldsLieWhereTheirSizesPutThem) {
  Store(SampleTable());
  const FieldMap fields = SampleFields();
  struct Case {
    DBParam_t key;
    std::int32_t result_index;
    std::int32_t type;
    std::int32_t int_value;
    float float_value;
    std::string text;
  };
  const Case cases[] = {
      {IntKey(0, 2), 2, kTypeFloat, kUntouchedInt, 2.25f, kUntouchedText},
      {IntKey(0, 3), 1, kTypeString, kUntouchedInt, kUntouchedFloat,
       std::string(kUntouchedText) + "Bow"},
      {IntKey(0, 2), 3, kTypeByte, -56, kUntouchedFloat, kUntouchedText},
      {IntKey(0, 3), 0, kTypeInteger, 3, kUntouchedFloat, kUntouchedText},
      // Position 4 is not listed: 4 bytes at byte 12, after the sizeless
      // byte field, read as an integer.
      {IntKey(0, 1), 4, kTypeInteger, 0x33221105, kUntouchedFloat,
       kUntouchedText},
      {IntKey(3, -1), 0, kTypeInteger, 3, kUntouchedFloat, kUntouchedText},
      {IntKey(4, 0x332211C8), 0, kTypeInteger, 2, kUntouchedFloat,
       kUntouchedText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("key " + std::to_string(c.key.fieldIndex) + ", result " +
                 std::to_string(c.result_index));
    DBParam_t key = c.key;
    DBParam_t result = Want(c.result_index);
    ASSERT_EQ(0, Lookup(fields, key, result));
    EXPECT_EQ(c.type, result.type);
    EXPECT_EQ(c.int_value, result.intValue);
    EXPECT_EQ(c.float_value, result.floatValue);
    EXPECT_EQ(c.text, result.strValue);
  }
}

TEST_P(DbcReaderTest, UnlistedPositionsCountFourBytesAndListedSizesAddUp) {
  // Each 4-byte cell holds 1000 * record + its byte offset in the record, so
  // the value read tells where the reader looked.
  DbcBuilder t;
  for (int j = 0; j < 3; ++j) {
    std::vector<DbcCell> cells;
    for (int b = 0; b < 32; b += 4) cells.push_back(Int(1000 * j + b));
    t.Record(cells);
  }
  t.FieldCount(8);
  Store(t);
  struct Case {
    const char* what;
    FieldMap fields;
    std::int32_t key_index, key_offset, result_index, result_offset;
  };
  const Case cases[] = {
      {"no entries", {}, 2, 8, 5, 20},
      {"entry at -1 is no column",
       {{-1, Field(kTypeInteger, 100)}},
       1,
       4,
       3,
       12},
      {"wide entry", {{1, Field(kTypeInteger, 8)}}, 1, 4, 3, 16},
      {"sizeless entry", {{0, Field(kTypeInteger, 0)}}, 1, 0, 2, 4},
      {"entries and gaps",
       {{0, Field(kTypeInteger, 4)}, {2, Field(kTypeInteger, 12)}},
       3,
       20,
       4,
       24},
      {"entries beyond the index do not count",
       {{5, Field(kTypeInteger, 64)}},
       0,
       0,
       5,
       20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DBParam_t key = IntKey(c.key_index, 2000 + c.key_offset);
    DBParam_t result = Want(c.result_index);
    ASSERT_EQ(0, Lookup(c.fields, key, result));
    EXPECT_EQ(2000 + c.result_offset, result.intValue);
    EXPECT_EQ(kTypeInteger, key.type);
    EXPECT_EQ(kTypeInteger, result.type);
  }
}

// ---------------------------------------------------------------------------
// Types and how each value kind is matched and returned.

TEST_P(DbcReaderTest, OtherTypeCodesReadAsIntegers) {
  Store(DbcBuilder().Record({Int(5), Int(50)}).Record({Int(7), Int(70)}));
  struct Case {
    std::int32_t code, reported;
  };
  const Case cases[] = {{kTypeNone, kTypeInteger},
                        {kTypeInteger, kTypeInteger},
                        {kTypeBit, kTypeBit},
                        {kTypeCString, kTypeCString},
                        {kTypeAmount, kTypeAmount},
                        {17, 17},
                        {-5, -5}};
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.code));
    const FieldMap fields{{0, Field(c.code)}, {1, Field(c.code)}};
    DBParam_t key = IntKey(0, 7);
    DBParam_t result = Want(1);
    ASSERT_EQ(0, Lookup(fields, key, result));
    EXPECT_EQ(70, result.intValue);
    EXPECT_EQ(c.reported, key.type);
    EXPECT_EQ(c.reported, result.type);
    EXPECT_EQ(kUntouchedText, result.strValue);
    EXPECT_EQ(kUntouchedFloat, result.floatValue);
  }
}

TEST_P(DbcReaderTest, BytesWidenWithTheirSign) {
  Store(DbcBuilder()
            .Record({Int(1), Byte(0x7F), Raw("\0\0\0")})
            .Record({Int(2), Byte(0xC8), Raw("\0\0\0")})
            .Record({Int(3), Byte(0xFF), Raw("\0\0\0")}));
  const FieldMap fields{{0, Field(kTypeInteger)}, {1, Field(kTypeByte)}};
  struct Case {
    std::int32_t key, status, id;
  };
  const Case cases[] = {
      {127, 0, 1}, {-56, 0, 2}, {200, -1, 0}, {-1, 0, 3}, {255, -1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE("key " + std::to_string(c.key));
    DBParam_t key = IntKey(1, c.key);
    DBParam_t result = Want(0);
    ASSERT_EQ(c.status, Lookup(fields, key, result));
    EXPECT_EQ(kTypeByte, key.type);
    EXPECT_EQ(c.status == 0 ? c.id : kUntouchedInt, result.intValue);
  }
  DBParam_t key = IntKey(0, 2);
  DBParam_t result = Want(1);
  ASSERT_EQ(0, Lookup(fields, key, result));
  EXPECT_EQ(-56, result.intValue);
  EXPECT_EQ(kTypeByte, result.type);
}

TEST_P(DbcReaderTest, FloatsCompareAsIeeeValues) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Store(DbcBuilder()
            .Record({Int(1), Float(nan)})
            .Record({Int(2), Float(0.0f)})
            .Record({Int(3), Float(-0.0f)})
            .Record({Int(4), Float(1.5f)}));
  const FieldMap fields{{0, Field(kTypeInteger)}, {1, Field(kTypeFloat)}};
  struct Case {
    const char* what;
    float key;
    std::int32_t status, id;
  };
  const Case cases[] = {{"NaN matches nothing", nan, -1, 0},
                        {"-0 matches +0", -0.0f, 0, 2},
                        {"exact value", 1.5f, 0, 4},
                        {"no tolerance", 1.5000001f, -1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DBParam_t key = FloatKey(1, c.key);
    DBParam_t result = Want(0);
    ASSERT_EQ(c.status, Lookup(fields, key, result));
    EXPECT_EQ(c.status == 0 ? c.id : kUntouchedInt, result.intValue);
  }
  DBParam_t key = IntKey(0, 3);
  DBParam_t result = Want(1);
  ASSERT_EQ(0, Lookup(fields, key, result));
  EXPECT_EQ(0.0f, result.floatValue);
  EXPECT_TRUE(std::signbit(result.floatValue));
  key = IntKey(0, 1);
  ASSERT_EQ(0, Lookup(fields, key, result));
  EXPECT_TRUE(std::isnan(result.floatValue));
}

TEST_P(DbcReaderTest, StringKeysCompareTheWholeStringInTheBlock) {
  const std::string long_name(100, 'x');
  const std::string edge(63, 'e');  // as long as one read compares at once
  DbcBuilder t;
  t.Record({Int(1), Str("Sword")})
      .Record({Int(2), Str("Axe")})
      .Record({Int(3), Str("Axe")})  // equal text, another offset
      .Record({Int(4), Str("")})
      .Record({Int(5), Str(long_name)})
      .Record({Int(6), Str(edge + "e")})
      .Record({Int(7), Str(edge)})
      .Record({Int(8), Int(0)});  // the block's leading empty string
  Store(t);
  const FieldMap fields{{0, Field(kTypeInteger)}, {1, Field(kTypeString)}};
  struct Case {
    std::string key;
    std::int32_t status, id;
  };
  const Case cases[] = {
      {"Sword", 0, 1}, {"Axe", 0, 2},     {"sword", -1, 0},
      {"Swor", -1, 0}, {"Swords", -1, 0}, {std::string("Axe\0", 4), -1, 0},
      {"", 0, 4},      {long_name, 0, 5}, {long_name + "x", -1, 0},
      {edge, 0, 7},    {edge + "e", 0, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE("key '" + c.key + "'");
    DBParam_t key = TextKey(1, c.key);
    DBParam_t result = Want(0);
    ASSERT_EQ(c.status, Lookup(fields, key, result));
    EXPECT_EQ(c.status == 0 ? c.id : kUntouchedInt, result.intValue);
    EXPECT_EQ(kTypeString, key.type);
    EXPECT_EQ(c.key, key.strValue);
  }
}

TEST_P(DbcReaderTest, UnreadableStringKeyEndsTheScan) {
  // Record 1's string runs to the end of the table without a NUL; record 2
  // holds the key, but the scan never gets past record 1.
  DbcBuilder t;
  t.Record({Int(1), Int(4)}).Record({Int(2), Str("ab")});
  ASSERT_EQ(4, t.AddToStringBlock("abcdef"));
  Store(t);
  const FieldMap fields{{0, Field(kTypeInteger)}, {1, Field(kTypeString)}};
  for (const std::string text : {"ab", "abcdef", "abcdefg", "x"}) {
    SCOPED_TRACE(text);
    DBParam_t key = TextKey(1, text);
    DBParam_t result = Want(0);
    EXPECT_EQ(-1, Lookup(fields, key, result));
    ExpectUntouched(result);
  }
}

TEST_P(DbcReaderTest, StringsAreReadToTheirOwnNulAndNoFurther) {
  const FieldMap fields{{0, Field(kTypeInteger)}, {1, Field(kTypeString)}};
  const std::string tail(100, 'q');  // no NUL up to the end of the table
  {
    // A string longer than one compare runs off the end: the scan fails
    // before it reaches the record that matches.
    DbcBuilder t;
    t.Record({Int(1), Int(4)}).Record({Int(2), Str("ab")});
    ASSERT_EQ(4, t.AddToStringBlock(tail));
    Store(t);
    DBParam_t key = TextKey(1, "ab");
    DBParam_t result = Want(0);
    EXPECT_EQ(-1, Lookup(fields, key, result));
  }
  {
    // A short string followed by unterminated bytes is read to its own NUL.
    DbcBuilder t;
    t.Record({Int(1), Str("xy")}).Record({Int(2), Str("ab")});
    t.AddToStringBlock(tail);
    Store(t);
    DBParam_t key = TextKey(1, "ab");
    DBParam_t result = Want(0);
    ASSERT_EQ(0, Lookup(fields, key, result));
    EXPECT_EQ(2, result.intValue);
  }
}

TEST_P(DbcReaderTest, StringResultsAppendToWhatTheResultHolds) {
  Store(
      DbcBuilder().Record({Int(1), Str("Sword")}).Record({Int(2), Str("Axe")}));
  const FieldMap fields{{0, Field(kTypeInteger)}, {1, Field(kTypeString)}};
  DBParam_t key = IntKey(0, 2);
  DBParam_t result = Want(1);
  result.strValue = "Name: ";
  ASSERT_EQ(0, Lookup(fields, key, result));
  EXPECT_EQ("Name: Axe", result.strValue);
  EXPECT_EQ(kTypeString, result.type);
  EXPECT_EQ(kUntouchedInt, result.intValue);
  EXPECT_EQ(kUntouchedFloat, result.floatValue);
}

TEST_P(DbcReaderTest, LastRecordsOfALargeTableAcrossManyWindows) {
  constexpr int kRecords = 100000;
  DbcBuilder t;
  for (int i = 0; i < kRecords; ++i) {
    t.Record({Int(i), Int(3 * i), Str("name" + std::to_string(i)), Int(-i)});
  }
  Store(t);
  const FieldMap fields{{0, Field(kTypeInteger)},
                        {1, Field(kTypeInteger)},
                        {2, Field(kTypeString)},
                        {3, Field(kTypeInteger)}};
  DBParam_t key = IntKey(0, kRecords - 1);
  DBParam_t result = Want(2);
  result.strValue.clear();
  ASSERT_EQ(0, Lookup(fields, key, result));
  EXPECT_EQ("name99999", result.strValue);

  key = TextKey(2, "name99999");
  result = Want(3);
  ASSERT_EQ(0, Lookup(fields, key, result));
  EXPECT_EQ(-(kRecords - 1), result.intValue);

  key = IntKey(3, -70000);
  result = Want(1);
  ASSERT_EQ(0, Lookup(fields, key, result));
  EXPECT_EQ(210000, result.intValue);

  key = TextKey(2, "name100000");
  result = Want(0);
  EXPECT_EQ(-1, Lookup(fields, key, result));
  ExpectUntouched(result);
}

// Refills of the record window and of the string window start small and
// double; every edge between what one fill holds and the next lies on a
// multiple of 4096. Each table has another record size, which moves every
// key across those edges, and the names vary in length (some longer than
// the short compare), which does the same for the strings. Each record
// whose key or name lies on or near an edge is asked for by both, and must
// answer with its own name and key.
TEST_P(DbcReaderTest, KeysAndNamesAreFoundAcrossEveryRefill) {
  constexpr int kRecords = 9000;  // names take ~320 KB: more than a window
  constexpr std::int64_t kEdge = 4096;
  const auto near_edge = [](std::int64_t begin, std::int64_t end) {
    return (begin - 4) / kEdge != (end + 4) / kEdge;
  };
  const auto name_of = [](int i) {
    const std::size_t pad =
        i % 11 == 0 ? 64 + i % 40 : static_cast<std::size_t>((i * 37) % 53);
    return std::to_string(i) +
           std::string(pad, static_cast<char>('a' + i % 26));
  };
  // Distinct, with all four bytes in use.
  const auto key_of = [](int i) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(i) *
                                     2654435761u);
  };
  const FieldMap fields{{0, Field(kTypeInteger)}, {1, Field(kTypeString)}};
  MpqBuilder mpq;
  std::vector<std::vector<int>> asked;
  for (int tail = 1; tail <= 8; ++tail) {
    DbcBuilder t;
    const std::int64_t stride = 8 + tail;
    std::int64_t name_at = 1;  // after the block's leading empty string
    std::vector<int> edge_records;
    std::vector<std::int64_t> name_start(kRecords);
    for (int i = 0; i < kRecords; ++i) {
      const std::string name = name_of(i);
      t.Record({Int(key_of(i)), Str(name),
                Raw(std::string(static_cast<std::size_t>(tail), '\x7f'))});
      name_start[static_cast<std::size_t>(i)] = name_at;
      name_at += static_cast<std::int64_t>(name.size()) + 1;
    }
    const auto block = static_cast<std::int64_t>(t.StringBlockStart());
    for (int i = 0; i < kRecords; ++i) {
      const std::int64_t key_at = 20 + i * stride;
      const std::int64_t name = block + name_start[static_cast<std::size_t>(i)];
      if (near_edge(key_at, key_at + 4) ||
          near_edge(name,
                    name + static_cast<std::int64_t>(name_of(i).size() + 1))) {
        edge_records.push_back(i);
      }
    }
    edge_records.push_back(kRecords - 1);
    asked.push_back(edge_records);
    mpq.Add("T" + std::to_string(tail) + ".dbc", t.Build(), GetParam().storage);
  }
  const std::string archive = dir_.File("refills.mpq");
  mpq.Write(archive);

  for (int tail = 1; tail <= 8; ++tail) {
    const std::string table = "T" + std::to_string(tail) + ".dbc";
    const auto ask = [&](DBParam_t key, DBParam_t& result) {
      CDBCFileWrapper reader;
      EXPECT_EQ(0, reader.Open(Widen(archive), table));
      EXPECT_EQ(0, reader.SetDefinition(&fields));
      return reader.Query(key, result);
    };
    for (const int i : asked[static_cast<std::size_t>(tail - 1)]) {
      SCOPED_TRACE("record size " + std::to_string(8 + tail) + ", record " +
                   std::to_string(i));
      DBParam_t result = Want(1);
      result.strValue.clear();
      ASSERT_EQ(0, ask(IntKey(0, key_of(i)), result));
      ASSERT_EQ(name_of(i), result.strValue);
      result = Want(0);
      ASSERT_EQ(0, ask(TextKey(1, name_of(i)), result));
      ASSERT_EQ(key_of(i), result.intValue);
    }
    SCOPED_TRACE("record size " + std::to_string(8 + tail));
    DBParam_t result = Want(0);
    EXPECT_EQ(-1, ask(IntKey(0, key_of(kRecords)), result));
    EXPECT_EQ(-1, ask(TextKey(1, name_of(kRecords)), result));
    EXPECT_EQ(-1, ask(TextKey(1, name_of(11 * kRecords)), result));
    ExpectUntouched(result);
  }
}

TEST_P(DbcReaderTest, FirstMatchingRecordAnswers) {
  Store(DbcBuilder()
            .Record({Int(9), Int(1)})
            .Record({Int(9), Int(2)})
            .Record({Int(8), Int(3)}));
  DBParam_t key = IntKey(0, 9);
  DBParam_t result = Want(1);
  ASSERT_EQ(0, Lookup({}, key, result));
  EXPECT_EQ(1, result.intValue);
}

// ---------------------------------------------------------------------------
// Record counts and field index bounds.

TEST_P(DbcReaderTest, NoRecordsToVisitAnswerNothing) {
  for (const std::int32_t count : {0, -1, std::numeric_limits<int>::min()}) {
    SCOPED_TRACE("record count " + std::to_string(count));
    Store(DbcBuilder().Record({Int(1), Int(10)}).RecordCount(count));
    DBParam_t key = IntKey(0, 1);
    DBParam_t result = Want(1);
    EXPECT_EQ(-1, Lookup({}, key, result));
    ExpectUntouched(result);
    EXPECT_EQ(kTypeInteger, key.type);  // written before the scan
    EXPECT_EQ(kTypeInteger, result.type);
  }
}

TEST_P(DbcReaderTest, IndexesOutsideTheFieldCountFailBeforeAnyRead) {
  Store(DbcBuilder().Record({Int(1), Int(10), Int(100)}).FieldCount(2));
  const FieldMap fields{{0, Field(kTypeInteger)}, {1, Field(kTypeFloat)}};
  struct Case {
    std::int32_t key_index, result_index, status;
  };
  const Case cases[] = {{0, 1, 0},
                        {2, 0, -1},
                        {0, 2, -1},
                        {-1, 0, -1},
                        {0, -1, -1},
                        {kMaxInt, 0, -1},
                        {0, std::numeric_limits<int>::min(), -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.key_index) + " / " +
                 std::to_string(c.result_index));
    DBParam_t key = IntKey(c.key_index, 1);
    key.type = 77;
    DBParam_t result = Want(c.result_index);
    result.type = 88;
    ASSERT_EQ(c.status, Lookup(fields, key, result));
    if (c.status != 0) {
      EXPECT_EQ(77, key.type);
      EXPECT_EQ(88, result.type);
      ExpectUntouched(result);
    }
  }
}

TEST_P(DbcReaderTest, QueryWithoutDefinitionsWritesNothing) {
  Store(DbcBuilder().Record({Int(1), Int(10)}));
  CDBCFileWrapper reader;
  ASSERT_EQ(0, reader.Open(Widen(archive_), GetParam().table));
  EXPECT_EQ(-1, reader.SetDefinition(nullptr));
  DBParam_t key = IntKey(0, 1);
  DBParam_t result = Want(1);
  EXPECT_EQ(-1, reader.Query(key, result));
  EXPECT_EQ(99, key.type);
  EXPECT_EQ(99, result.type);
  ExpectUntouched(result);
}

// ---------------------------------------------------------------------------
// Damaged tables: -1 at once, nothing undefined, nothing slow.

TEST_P(DbcReaderTest, ImpossiblePositionsFail) {
  const FieldMap strings{{0, Field(kTypeInteger)}, {1, Field(kTypeString)}};
  struct Case {
    const char* what;
    DbcBuilder table;
    FieldMap fields;
    DBParam_t key;
    std::int32_t result_index;
  };
  // Offset 1 is the text after the block's leading NUL, which runs to the
  // end of the table.
  DbcBuilder unterminated;
  unterminated.Record({Int(1), Int(1)});
  unterminated.AddToStringBlock("abc");

  const Case cases[] = {
      {"negative string offset as result",
       DbcBuilder().Record({Int(1), Int(-4)}), strings, IntKey(0, 1), 1},
      {"negative string offset as key", DbcBuilder().Record({Int(1), Int(-4)}),
       strings, TextKey(1, "\xFC\xFF\xFF\xFF"), 0},
      {"string offset past the end",
       DbcBuilder().Record({Int(1), Int(1 << 20)}), strings, IntKey(0, 1), 1},
      {"string offset beyond 2^31-1",
       DbcBuilder().Record({Int(1), Int(kMaxInt)}), strings, IntKey(0, 1), 1},
      {"string without its NUL", unterminated, strings, IntKey(0, 1), 1},
      {"string key without its NUL", unterminated, strings, TextKey(1, "abc"),
       0},
      // Would land inside the header.
      {"negative field size", DbcBuilder().Record({Int(1), Int(2)}),
       FieldMap{{0, Field(kTypeInteger, -8)}}, IntKey(0, 1), 1},
      {"negative key offset", DbcBuilder().Record({Int(1), Int(2)}),
       FieldMap{{0, Field(kTypeInteger, -8)}}, IntKey(1, 8), 0},
      {"result field past the end", DbcBuilder().Record({Int(1), Int(2)}),
       FieldMap{{0, Field(kTypeInteger, 1000)}}, IntKey(0, 1), 1},
      {"field offset beyond 2^31-1", DbcBuilder().Record({Int(1), Int(2)}),
       FieldMap{{0, Field(kTypeInteger, kMaxInt)}}, IntKey(0, 1), 1},
      {"key past the end of every record",
       DbcBuilder().Record({Int(1), Int(2)}).FieldCount(kMaxInt),
       {},
       IntKey(kMaxInt - 1, 0),
       0},
      {"huge record count, few records",
       DbcBuilder().Record({Int(1), Int(2)}).RecordCount(kMaxInt),
       {},
       IntKey(0, 5),
       1},
      {"records beyond 2^31-1",
       DbcBuilder().Record({Int(1), Int(2)}).RecordSize(kMaxInt).RecordCount(3),
       {},
       IntKey(0, 5),
       1},
      {"negative record size",
       DbcBuilder()
           .Record({Int(1), Int(2)})
           .RecordSize(-8)
           .RecordCount(kMaxInt),
       {},
       IntKey(0, 5),
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Store(c.table);
    DBParam_t key = c.key;
    DBParam_t result = Want(c.result_index);
    EXPECT_EQ(-1, Lookup(c.fields, key, result));
    ExpectUntouched(result);
  }
}

TEST_P(DbcReaderTest, RecordSizeZeroComparesTheOneRecordOnce) {
  // Two thousand million records, all at byte 20: an answer at once.
  Store(DbcBuilder()
            .Record({Int(4), Int(40)})
            .RecordSize(0)
            .RecordCount(kMaxInt));
  DBParam_t key = IntKey(0, 4);
  DBParam_t result = Want(1);
  ASSERT_EQ(0, Lookup({}, key, result));
  EXPECT_EQ(40, result.intValue);
  // Comparing it two thousand million times would take seconds.
  const auto start = std::chrono::steady_clock::now();
  key = IntKey(0, 5);
  EXPECT_EQ(-1, Lookup({}, key, result));
  key = TextKey(0, "nothing");
  EXPECT_EQ(-1, Lookup({{0, Field(kTypeString)}}, key, result));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_P(DbcReaderTest, UnusualHeadersStillAnswer) {
  // The magic and the string block size are not checked, and a negative
  // stride still answers from the first record.
  Store(DbcBuilder()
            .Record({Int(1), Int(10)})
            .Record({Int(2), Int(20)})
            .Magic("XXXX")
            .StringBlockSize(-1));
  DBParam_t key = IntKey(0, 2);
  DBParam_t result = Want(1);
  ASSERT_EQ(0, Lookup({}, key, result));
  EXPECT_EQ(20, result.intValue);

  Store(DbcBuilder().Record({Int(1), Int(10)}).RecordSize(-8).RecordCount(2));
  key = IntKey(0, 1);
  ASSERT_EQ(0, Lookup({}, key, result));
  EXPECT_EQ(10, result.intValue);
}

// ---------------------------------------------------------------------------
// Truncated tables: every length either fails or answers right.

TEST_P(DbcReaderTest, EveryTruncationFailsOrAnswersRight) {
  DbcBuilder t;
  t.Record({Int(1), Str("alpha"), Int(10)})
      .Record({Int(2), Str("beta"), Int(20)})
      .Record({Int(3), Str("gamma"), Int(30)});
  const std::string full = t.Build();
  const std::size_t block = t.StringBlockStart();  // "\0alpha\0beta\0gamma\0"
  ASSERT_EQ(20u + 3 * 12, block);
  ASSERT_EQ(block + 18, full.size());

  MpqBuilder mpq;
  for (std::size_t n = 0; n <= full.size(); ++n) {
    mpq.Add("T" + std::to_string(n) + ".dbc", full.substr(0, n),
            GetParam().storage);
  }
  const std::string archive = dir_.File("truncated.mpq");
  mpq.Write(archive);

  const FieldMap fields{{0, Field(kTypeInteger)},
                        {1, Field(kTypeString)},
                        {2, Field(kTypeInteger)}};
  struct Case {
    const char* what;
    DBParam_t key;
    std::int32_t result_index;
    std::size_t needs;  // bytes of the table the answer depends on
    std::int32_t int_value;
    std::string text;
  };
  const Case cases[] = {
      {"first record", IntKey(0, 1), 0, 24, 1, ""},
      {"last record", IntKey(0, 3), 2, 56, 30, ""},
      {"string result", IntKey(0, 3), 1, block + 18, kUntouchedInt, "gamma"},
      {"string key", TextKey(1, "beta"), 2, block + 12, 20, ""},
  };
  for (const Case& c : cases) {
    for (std::size_t n = 0; n <= full.size(); ++n) {
      SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(n) + " bytes");
      CDBCFileWrapper reader;
      const int opened =
          reader.Open(Widen(archive), "T" + std::to_string(n) + ".dbc");
      ASSERT_EQ(n >= 20 ? 0 : -1, opened);
      if (opened != 0) continue;
      ASSERT_EQ(0, reader.SetDefinition(&fields));
      DBParam_t key = c.key;
      DBParam_t result = Want(c.result_index);
      result.strValue.clear();
      ASSERT_EQ(n >= c.needs ? 0 : -1, reader.Query(key, result));
      if (n >= c.needs) {
        EXPECT_EQ(c.int_value, result.intValue);
        EXPECT_EQ(c.text, result.strValue);
      } else {
        EXPECT_EQ(kUntouchedInt, result.intValue);
        EXPECT_EQ("", result.strValue);
      }
    }
  }
}

TEST_P(DbcReaderTest, TruncatedLargeTablesFailOrAnswerRight) {
  // Records and strings each span several fills of the reader's windows;
  // cuts fall inside and between them.
  constexpr int kRecords = 30000;
  DbcBuilder t;
  std::vector<std::size_t> string_end(kRecords);
  std::size_t block_used = 1;  // the leading empty string
  for (int i = 0; i < kRecords; ++i) {
    const std::string name = "name" + std::to_string(i);
    t.Record({Int(i), Str(name), Int(7 * i)});
    block_used += name.size() + 1;
    string_end[static_cast<std::size_t>(i)] = block_used;
  }
  const std::string full = t.Build();
  const std::size_t block = t.StringBlockStart();
  const auto record_end = [](std::size_t i) { return 20 + 12 * (i + 1); };

  struct Case {
    const char* what;
    DBParam_t key;
    std::int32_t result_index;
    std::size_t needs;
    std::int32_t int_value;
    std::string text;
  };
  const Case cases[] = {
      {"last record by integer", IntKey(0, kRecords - 1), 2, block,
       7 * (kRecords - 1), ""},
      {"last record by string", TextKey(1, "name29999"), 2, full.size(),
       7 * (kRecords - 1), ""},
      {"string result", IntKey(0, 25000), 1, block + string_end[25000],
       kUntouchedInt, "name25000"},
      {"middle record by integer", IntKey(0, 20000), 0, record_end(20000) - 8,
       20000, ""},
  };
  std::vector<std::size_t> lengths = {20,
                                      1000,
                                      65536,
                                      65557,
                                      262144,
                                      262165,
                                      300000,
                                      block - 1,
                                      block,
                                      block + 1,
                                      block + 70000,
                                      full.size() - 65,
                                      full.size() - 64,
                                      full.size() - 1,
                                      full.size()};
  for (const Case& c : cases) {
    lengths.push_back(c.needs - 1);
    lengths.push_back(c.needs);
  }
  MpqBuilder mpq;
  for (const std::size_t n : lengths) {
    mpq.Add("T" + std::to_string(n) + ".dbc", full.substr(0, n),
            GetParam().storage);
  }
  const std::string archive = dir_.File("large.mpq");
  mpq.Write(archive);

  const FieldMap fields{{0, Field(kTypeInteger)},
                        {1, Field(kTypeString)},
                        {2, Field(kTypeInteger)}};
  for (const Case& c : cases) {
    for (const std::size_t n : lengths) {
      SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(n) + " bytes");
      CDBCFileWrapper reader;
      ASSERT_EQ(0,
                reader.Open(Widen(archive), "T" + std::to_string(n) + ".dbc"));
      ASSERT_EQ(0, reader.SetDefinition(&fields));
      DBParam_t key = c.key;
      DBParam_t result = Want(c.result_index);
      result.strValue.clear();
      ASSERT_EQ(n >= c.needs ? 0 : -1, reader.Query(key, result));
      if (n >= c.needs) {
        EXPECT_EQ(c.int_value, result.intValue);
        EXPECT_EQ(c.text, result.strValue);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// The primitives, served from the window.

class DbcPrimitivesTest : public DbcReaderTest {
 protected:
  // A table file of 200 KiB of noise (its first 20 bytes make some header):
  // larger than the window several times over.
  void SetUp() override {
    std::mt19937 gen(7);
    bytes_.resize(200 * 1024);
    for (char& b : bytes_) b = static_cast<char>(gen() & 0xFF);
    StoreBytes(bytes_);
    ASSERT_EQ(0, reader_.Open(Widen(archive_), GetParam().table));
  }

  std::string bytes_;
  CDBCFileWrapper reader_;
};

INSTANTIATE_TEST_SUITE_P(Layouts, DbcPrimitivesTest,
                         ::testing::ValuesIn(kLayouts), LayoutName);

TEST_P(DbcPrimitivesTest, ReadsDeliverTheTableBytesAnywhere) {
  const std::int32_t size = static_cast<std::int32_t>(bytes_.size());
  const std::int32_t positions[] = {0,     1,     4095,   4096,       65533,
                                    65536, 98303, 131071, size - 5000};
  const std::int32_t lengths[] = {1, 4, 7, 5000, 70000};
  for (const std::int32_t pos : positions) {
    for (const std::int32_t n : lengths) {
      if (pos + n > size) continue;
      SCOPED_TRACE(std::to_string(n) + " bytes at " + std::to_string(pos));
      std::string got(static_cast<std::size_t>(n), '\0');
      ASSERT_EQ(0, reader_.SeekFromBegin(pos));
      ASSERT_EQ(0, reader_.ReadBytes(&got[0], n));
      EXPECT_EQ(bytes_.substr(static_cast<std::size_t>(pos),
                              static_cast<std::size_t>(n)),
                got);
    }
  }
  // Up to the last byte, and not one more.
  char c = 0;
  ASSERT_EQ(0, reader_.SeekFromBegin(size - 1));
  ASSERT_EQ(0, reader_.ReadByte(&c));
  EXPECT_EQ(bytes_.back(), c);
  EXPECT_EQ(-1, reader_.ReadByte(&c));
}

TEST_P(DbcPrimitivesTest, TypedReadsDecodeLittleEndianAndAdvance) {
  const auto at = [this](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes_[i]));
  };
  const std::uint32_t u =
      at(70000) | at(70001) << 8 | at(70002) << 16 | at(70003) << 24;
  std::int32_t expected_int;
  float expected_float;
  std::memcpy(&expected_int, &u, 4);
  std::memcpy(&expected_float, &u, 4);

  std::int32_t i = 0;
  float f = 0.0f;
  char c = 0;
  ASSERT_EQ(0, reader_.SeekFromBegin(70000));
  ASSERT_EQ(0, reader_.ReadInt(&i));
  EXPECT_EQ(expected_int, i);
  ASSERT_EQ(0, reader_.SeekFromCurrent(-4));
  ASSERT_EQ(0, reader_.ReadFloat(&f));
  EXPECT_EQ(0, std::memcmp(&expected_float, &f, 4));
  ASSERT_EQ(0, reader_.ReadByte(&c));
  EXPECT_EQ(bytes_[70004], c);
  ASSERT_EQ(0, reader_.SeekFromCurrent(-70005 + 100));
  ASSERT_EQ(0, reader_.ReadByte(&c));
  EXPECT_EQ(bytes_[100], c);
  EXPECT_EQ(0, reader_.ReadBytes(&c, 0));
  EXPECT_EQ(-1, reader_.ReadBytes(&c, -1));
}

TEST_P(DbcPrimitivesTest, FailuresLeaveThePositionAndDoNotStick) {
  const std::int32_t size = static_cast<std::int32_t>(bytes_.size());
  char c = 0;
  // Past the end: the seek succeeds, the read fails.
  ASSERT_EQ(0, reader_.SeekFromBegin(size + 10));
  EXPECT_EQ(-1, reader_.ReadByte(&c));
  ASSERT_EQ(0, reader_.SeekFromBegin(5));
  ASSERT_EQ(0, reader_.ReadByte(&c));
  EXPECT_EQ(bytes_[5], c);
  // Before the start: the seek fails and the position stays.
  EXPECT_EQ(-1, reader_.SeekFromBegin(-1));
  EXPECT_EQ(-1, reader_.SeekFromCurrent(-100));
  ASSERT_EQ(0, reader_.ReadByte(&c));
  EXPECT_EQ(bytes_[6], c);
  // A read that runs off the end fails whole and moves nothing.
  std::string tail(10, '\0');
  ASSERT_EQ(0, reader_.SeekFromBegin(size - 4));
  EXPECT_EQ(-1, reader_.ReadBytes(&tail[0], 10));
  std::int32_t i = 0;
  EXPECT_EQ(0, reader_.ReadInt(&i));
  EXPECT_EQ(-1, reader_.ReadInt(&i));
}

TEST_P(DbcPrimitivesTest, ClosedReaderReadsNothing) {
  reader_.Close();
  reader_.Close();
  char c = 0;
  std::int32_t i = 0;
  float f = 0.0f;
  std::string s;
  EXPECT_EQ(-1, reader_.ReadHeader());
  EXPECT_EQ(-1, reader_.SeekFromBegin(0));
  EXPECT_EQ(-1, reader_.SeekFromCurrent(0));
  EXPECT_EQ(-1, reader_.ReadByte(&c));
  EXPECT_EQ(-1, reader_.ReadBytes(&c, 1));
  EXPECT_EQ(-1, reader_.ReadInt(&i));
  EXPECT_EQ(-1, reader_.ReadFloat(&f));
  EXPECT_EQ(-1, reader_.ReadString(s));
  // And opens again, just past the header.
  ASSERT_EQ(0, reader_.Open(Widen(archive_), GetParam().table));
  ASSERT_EQ(0, reader_.ReadByte(&c));
  EXPECT_EQ(bytes_[20], c);
}

TEST_P(DbcReaderTest, HeaderAndStringsThroughThePrimitives) {
  Store(SampleTable().Magic("ABCD"));
  CDBCFileWrapper reader;
  ASSERT_EQ(0, reader.Open(Widen(archive_), GetParam().table));
  EXPECT_EQ(0, std::memcmp("ABCD", reader.header().magic, 4));
  EXPECT_EQ(3, reader.header().recordCount);
  EXPECT_EQ(5, reader.header().fieldCount);
  EXPECT_EQ(16, reader.header().recordSize);
  EXPECT_EQ(15, reader.header().stringBlockSize);  // "\0Sword\0Axe\0Bow\0"

  std::string s = "<";
  ASSERT_EQ(0, reader.SeekFromBegin(20 + 16 + 4));  // record 1, field 1
  ASSERT_EQ(0, reader.ReadString(s));
  EXPECT_EQ("<Axe", s);
  char c = 0;  // the position is just past the NUL
  ASSERT_EQ(0, reader.ReadByte(&c));
  EXPECT_EQ('B', c);
  // Reading the header again puts nothing out of place.
  ASSERT_EQ(0, reader.ReadHeader());
  EXPECT_EQ(3, reader.header().recordCount);
  // A record's integer read as a string offset points past the block.
  ASSERT_EQ(0, reader.SeekFromBegin(20 + 8));
  s.clear();
  EXPECT_EQ(-1, reader.ReadString(s));
}

// ---------------------------------------------------------------------------
// Opening: archives, tables and paths.

class DbcOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    archive_ = dir_.File("A.mpq");
    MpqBuilder()
        .Add("Items.dbc", DbcBuilder().Record({Int(1)}).Build())
        .Add("Tables\\Spells.dbc", DbcBuilder().Record({Int(2)}).Build(),
             Storage::kZlib)
        .Write(archive_);
  }

  int Open(const std::wstring& archive, const std::string& table) {
    CDBCFileWrapper reader;
    return reader.Open(archive, table);
  }

  TempDir dir_;
  std::string archive_;
};

TEST_F(DbcOpenTest, TablesAreFoundByTheirArchiveNames) {
  const std::wstring a = Widen(archive_);
  EXPECT_EQ(0, Open(a, "Items.dbc"));
  EXPECT_EQ(0, Open(a, "Tables\\Spells.dbc"));
  EXPECT_EQ(-1, Open(a, "Spells.dbc"));
  EXPECT_EQ(-1, Open(a, "Tables/Spells.dbc"));
  EXPECT_EQ(-1, Open(a, "Missing.dbc"));
  EXPECT_EQ(-1, Open(a, ""));
}

TEST_F(DbcOpenTest, ReaderComesBackFromAFailedOpen) {
  CDBCFileWrapper reader;
  EXPECT_EQ(-1, reader.Open(Widen(archive_), "Missing.dbc"));
  ASSERT_EQ(0, reader.Open(Widen(archive_), "Tables\\Spells.dbc"));
  EXPECT_EQ(1, reader.header().recordCount);
  const FieldMap fields;
  ASSERT_EQ(0, reader.SetDefinition(&fields));
  DBParam_t key = IntKey(0, 2);
  DBParam_t result = Want(0);
  ASSERT_EQ(0, reader.Query(key, result));
  EXPECT_EQ(2, result.intValue);
  // A query after a failed one is answered like the first.
  key = IntKey(0, 3);
  EXPECT_EQ(-1, reader.Query(key, result));
  key = IntKey(0, 2);
  result = Want(0);
  EXPECT_EQ(0, reader.Query(key, result));
}

TEST_F(DbcOpenTest, FilesThatAreNoArchiveFail) {
  const std::string text = dir_.Write("text.mpq", "just some text, no archive");
  const std::string empty = dir_.Write("empty.mpq", "");
  std::string noise(4096, '\0');
  std::mt19937 gen(3);
  for (char& c : noise) c = static_cast<char>(gen() & 0xFF);
  const std::string random = dir_.Write("noise.mpq", noise);
  for (const std::string& path : {text, empty, random, dir_.File("missing.mpq"),
                                  dir_.path(), std::string()}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(-1, Open(Widen(path), "Items.dbc"));
  }
}

TEST_F(DbcOpenTest, PathsThatWouldNameAnotherFileFail) {
  // U+0141 cut to its low byte would be 'A', naming A.mpq.
  const std::wstring cut = Widen(dir_.path() + "/") + L"\u0141.mpq";
  EXPECT_EQ(-1, Open(cut, "Items.dbc"));
  std::wstring nul = Widen(archive_);
  nul += L'\0';
  nul += L"x";
  EXPECT_EQ(-1, Open(nul, "Items.dbc"));
  EXPECT_EQ(-1, Open(Widen(archive_), std::string("Items.dbc\0x", 11)));
  EXPECT_EQ(0, Open(Widen(archive_), "Items.dbc"));
}

#ifdef __linux__
// Access mode (O_RDONLY, O_RDWR, ...) of this process's descriptor on path.
int AccessModeOf(const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path target = fs::canonical(path);
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(entry.path(), ec) != target || ec) continue;
    std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
    std::string name, value;
    while (info >> name >> value) {
      if (name == "flags:") return std::stoi(value, nullptr, 8) & O_ACCMODE;
    }
  }
  return -1;
}

TEST_F(DbcOpenTest, ArchivesOpenReadOnly) {
  CDBCFileWrapper reader;
  ASSERT_EQ(0, reader.Open(Widen(archive_), "Items.dbc"));
  EXPECT_EQ(O_RDONLY, AccessModeOf(archive_));
  reader.Close();
  EXPECT_EQ(-1, AccessModeOf(archive_));
}
#endif

TEST_F(DbcOpenTest, ArchiveWithoutWritePermissionOpens) {
  namespace fs = std::filesystem;
  fs::permissions(archive_, fs::perms::owner_read | fs::perms::group_read |
                                fs::perms::others_read);
  EXPECT_EQ(0, Open(Widen(archive_), "Tables\\Spells.dbc"));
}

}  // namespace
