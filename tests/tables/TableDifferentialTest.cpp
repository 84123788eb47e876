// A table answers every question exactly as the query object does on the
// same file: seeded random WDB files and DBC tables (damaged ones among
// them), random definitions, random key and result indexes, every member of
// both records compared after each call.
#include <SelvaneLibrary/SelvaneLibrary.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/support/DbcBuilder.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/MpqBuilder.h"
#include "tests/support/StoredTableBuilder.h"
#include "tests/support/TempDir.h"
#include "tests/support/WdbBuilder.h"

namespace {

using Rng = std::mt19937;

int Pick(Rng& rng, int lo, int hi) {
  return std::uniform_int_distribution<int>(lo, hi)(rng);
}

template <typename T, std::size_t N>
const T& PickOf(Rng& rng, const T (&items)[N]) {
  return items[static_cast<std::size_t>(Pick(rng, 0, N - 1))];
}

// Small value domains, so that keys repeat and random keys often hit.
const std::int32_t kInts[] = {0, 1, 2, 3, -1, 200, -56, 0x7FFFFFFF};
const float kFloats[] = {0.0f,
                         -0.0f,
                         1.5f,
                         -2.25f,
                         1e-7f,
                         std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity()};
const std::uint8_t kBytes[] = {0, 1, 0x7F, 0x80, 0xC8, 0xFF};
const char* const kTexts[] = {"",
                              "a",
                              "ab",
                              "Axe",
                              "axe",
                              "say \"hi\"",
                              "a longer text than sixty-four bytes, so that "
                              "no short-key path can hold it whole"};
const char* const kTypes[] = {"integer", "integer", "float",  "byte", "cstring",
                              "string",  "bit",     "amount", "",     "other"};

// The bytes of a record cell of the field's type, as the file would hold it.
std::string Cell(Rng& rng, const std::string& type, bool wdb) {
  std::string out;
  auto put32 = [&out](std::uint32_t u) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(u >> (8 * i)));
  };
  if (type == "float") {
    std::uint32_t u;
    const float f = PickOf(rng, kFloats);
    std::memcpy(&u, &f, 4);
    put32(u);
  } else if (type == "byte") {
    out.push_back(static_cast<char>(PickOf(rng, kBytes)));
  } else if (type == "cstring" && wdb) {
    out = std::string(PickOf(rng, kTexts)) + '\0';
  } else {
    put32(static_cast<std::uint32_t>(PickOf(rng, kInts)));
  }
  return out;
}

// One key or result record as a host might hand it over: any type, a value
// from the domains, and text already in strValue now and then.
DBParam_t RandomParam(Rng& rng, std::int32_t fields) {
  DBParam_t p;
  p.fieldIndex = Pick(rng, 0, 9) == 0 ? Pick(rng, -2, fields + 2)
                                      : Pick(rng, 0, std::max(0, fields - 1));
  p.type = Pick(rng, -1, 6);
  p.intValue = Pick(rng, 0, 2) == 0
                   ? static_cast<std::int32_t>(
                         static_cast<signed char>(PickOf(rng, kBytes)))
                   : PickOf(rng, kInts);
  p.floatValue = PickOf(rng, kFloats);
  p.strValue = Pick(rng, 0, 3) == 0 ? "old" : PickOf(rng, kTexts);
  return p;
}

bool SameFloat(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

::testing::AssertionResult Same(const DBParam_t& want, const DBParam_t& got) {
  if (want.fieldIndex == got.fieldIndex && want.type == got.type &&
      want.intValue == got.intValue && want.strValue == got.strValue &&
      SameFloat(want.floatValue, got.floatValue)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "want {" << want.fieldIndex << ", " << want.type << ", "
         << want.intValue << ", '" << want.strValue << "', " << want.floatValue
         << "} got {" << got.fieldIndex << ", " << got.type << ", "
         << got.intValue << ", '" << got.strValue << "', " << got.floatValue
         << "}";
}

// A random field list for a table; DBC tables leave some positions out.
struct Layout {
  std::vector<std::string> types;   // by field index; "-" unlisted (DBC)
  std::vector<std::int32_t> sizes;  // as the definition gives them
};

Layout RandomLayout(Rng& rng, bool wdb) {
  Layout l;
  const int n = Pick(rng, 1, 6) + (wdb ? 2 : 0);
  for (int i = 0; i < n; ++i) {
    std::string type = PickOf(rng, kTypes);
    if (wdb && i < 2) type = "integer";
    if (!wdb && Pick(rng, 0, 7) == 0) type = "-";
    std::int32_t size = type == "byte" ? 1 : 4;
    if (Pick(rng, 0, 9) == 0) size = Pick(rng, -2, 9);
    l.types.push_back(type);
    l.sizes.push_back(size);
  }
  return l;
}

void Define(DefinitionBuilder& defs, const std::string& name, const Layout& l,
            Rng& rng) {
  defs.Table(name);
  for (std::size_t i = 0; i < l.types.size(); ++i) {
    if (l.types[i] == "-") continue;
    DefinitionBuilder::Attributes attrs = {
        {"position", std::to_string(i)}, {"size", std::to_string(l.sizes[i])}};
    if (!l.types[i].empty()) attrs.push_back({"type", l.types[i]});
    if (l.types[i] == "amount") attrs.push_back({"skipbyte", "2"});
    // Some fields have no name: the definitions then call them Undef_<i>.
    defs.Field(Pick(rng, 0, 4) == 0 ? "" : "F" + std::to_string(i), attrs);
  }
}

std::string RandomWdb(Rng& rng, const Layout& l) {
  WdbBuilder wdb;
  const int records = Pick(rng, 0, 25);
  for (int r = 0; r < records; ++r) {
    wdb.Record(Pick(rng, 0, 6));
    std::string data;
    for (std::size_t i = 2; i < l.types.size(); ++i) {
      data += Cell(rng, l.types[i], true);
      if (l.types[i] == "amount") data += "zz";  // the skipped bytes
    }
    wdb.Raw(data);
    if (Pick(rng, 0, 19) == 0) wdb.Length(Pick(rng, -12, 40));
  }
  return wdb.bytes();
}

std::string RandomDbc(Rng& rng, const Layout& l) {
  DbcBuilder dbc;
  const int records = Pick(rng, 0, 25);
  for (int r = 0; r < records; ++r) {
    std::vector<DbcCell> cells;
    for (const std::string& type : l.types) {
      if (type == "string") {
        cells.push_back(Pick(rng, 0, 15) == 0 ? Int(Pick(rng, -3, 4000))
                                              : Str(PickOf(rng, kTexts)));
      } else {
        cells.push_back(Raw(Cell(rng, type, false)));
      }
    }
    dbc.Record(cells);
  }
  switch (Pick(rng, 0, 9)) {
    case 0:
      dbc.RecordCount(records + Pick(rng, 1, 5));
      break;
    case 1:
      dbc.FieldCount(Pick(rng, 0, 10));
      break;
    case 2:
      dbc.RecordSize(Pick(rng, -4, 12));
      break;
    case 3:
      dbc.RecordCount(Pick(rng, -2, 3));
      break;
    default:
      break;
  }
  return dbc.Build();
}

// Damage of any kind: a cut, a changed byte.
void Damage(Rng& rng, std::string* bytes) {
  switch (Pick(rng, 0, 7)) {
    case 0:
      bytes->resize(static_cast<std::size_t>(
          Pick(rng, 0, static_cast<int>(bytes->size()))));
      break;
    case 1:
      if (!bytes->empty()) {
        const auto at = static_cast<std::size_t>(
            Pick(rng, 0, static_cast<int>(bytes->size()) - 1));
        (*bytes)[at] = static_cast<char>(Pick(rng, 0, 255));
      }
      break;
    default:
      break;
  }
}

// Compares every Query of the table with the object's on the same file;
// counts the answers in *answered.
template <typename AskObject>
void CompareQueries(Rng& rng, const CSelvaneTable& table, std::int32_t fields,
                    const AskObject& ask, int count, int* answered) {
  for (int q = 0; q < count; ++q) {
    DBParam_t key = RandomParam(rng, fields);
    DBParam_t result = RandomParam(rng, fields);
    DBParam_t key2 = key, result2 = result;
    const int want = ask(key, result);
    const int got = table.Query(key2, result2);
    ASSERT_EQ(want, got) << "query " << q << " key field " << key.fieldIndex
                         << " result field " << result.fieldIndex;
    ASSERT_TRUE(Same(key, key2)) << "key of query " << q;
    ASSERT_TRUE(Same(result, result2)) << "result of query " << q;
    if (want == 0) ++*answered;
  }
}

class TableDifferentialTest : public ::testing::TestWithParam<int> {};

TEST_P(TableDifferentialTest, WdbQueriesMatchTheObject) {
  Rng rng(static_cast<Rng::result_type>(GetParam()));
  TempDir dir;
  int answered = 0;
  for (int t = 0; t < 12; ++t) {
    SCOPED_TRACE("table " + std::to_string(t));
    const Layout layout = RandomLayout(rng, true);
    DefinitionBuilder defs("WDBFile");
    const std::string name = "t" + std::to_string(t) + ".wdb";
    Define(defs, name, layout, rng);
    CSelvaneObject db;
    ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir, "defs.xml")));
    std::string bytes = RandomWdb(rng, layout);
    Damage(rng, &bytes);
    const std::wstring path = Widen(dir.Write(name, bytes));

    CSelvaneTable table;
    const int opened = table.OpenWDB(db, path);
    if (opened != 0) {
      EXPECT_LT(bytes.size(), 20u);
      EXPECT_EQ(selvane::TableStatus::kHeaderUnreadable, table.Status());
    }
    const auto fields = static_cast<std::int32_t>(layout.types.size());
    CompareQueries(
        rng, table, fields,
        [&](DBParam_t& key, DBParam_t& result) {
          return db.QueryWDB(path, key, result);
        },
        150, &answered);
  }
  // The random keys hit often enough to compare answers, not only failures.
  EXPECT_GT(answered, 12 * 150 / 20);
}

TEST_P(TableDifferentialTest, DbcQueriesMatchTheObject) {
  Rng rng(static_cast<Rng::result_type>(GetParam()) + 1000u);
  TempDir dir;
  const int tables = 10;
  std::vector<Layout> layouts;
  DefinitionBuilder defs("DBCFile");
  MpqBuilder mpq;
  for (int t = 0; t < tables; ++t) {
    layouts.push_back(RandomLayout(rng, false));
    const std::string name = "T" + std::to_string(t) + ".dbc";
    Define(defs, name, layouts.back(), rng);
    std::string bytes = RandomDbc(rng, layouts.back());
    Damage(rng, &bytes);
    mpq.Add("Data\\" + name, bytes,
            Pick(rng, 0, 1) == 0 ? MpqBuilder::Storage::kPlain
                                 : MpqBuilder::Storage::kZlib);
  }
  const std::string archive = dir.File("data.mpq");
  mpq.Write(archive);
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir, "defs.xml")));
  const std::wstring wide = Widen(archive);
  int answered = 0;
  for (int t = 0; t < tables; ++t) {
    SCOPED_TRACE("table " + std::to_string(t));
    const std::string path = "Data\\T" + std::to_string(t) + ".dbc";
    CSelvaneTable table;
    table.OpenDBC(db, wide, path);
    const std::int32_t fields =
        std::max(table.FieldCount(),
                 static_cast<std::int32_t>(
                     layouts[static_cast<std::size_t>(t)].types.size()));
    CompareQueries(
        rng, table, std::min(fields, 12),
        [&](DBParam_t& key, DBParam_t& result) {
          return db.QueryDBC(wide, path, key, result);
        },
        150, &answered);
  }
  EXPECT_GT(answered, tables * 150 / 20);
}

// Damaged tables the table must answer as the object's reads do: compressed
// ones of many sectors, one or two of which no longer unpack (the archive
// library fails any read that covers one, and the object's reads go round
// it), and plain ones whose entry lists a size far past the archive's end,
// of which the table holds no more than the archive does.
TEST_P(TableDifferentialTest, DamagedSectorsMatchTheObject) {
  Rng rng(static_cast<Rng::result_type>(GetParam()) + 2000u);
  TempDir dir;
  const std::string archive = dir.File("spoiled.mpq");
  const std::string path = "Data\\Items.dbc";
  DefinitionBuilder defs("DBCFile");
  Define(defs, "Items.dbc", Layout{{"integer", "string", "integer"}, {4, 4, 4}},
         rng);
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir, "defs.xml")));
  const std::wstring wide = Widen(archive);
  int answered = 0;
  for (int t = 0; t < 3; ++t) {
    SCOPED_TRACE("table " + std::to_string(t));
    DbcBuilder dbc;
    const int records = Pick(rng, 400, 1500);  // two sectors or more
    for (int r = 0; r < records; ++r)
      dbc.Record({Int(r), Str("name " + std::to_string(r * 31)), Int(3 * r)});
    const std::string bytes = dbc.Build();
    StoredLayout layout;
    const bool overlong = t == 2;
    layout.packing =
        overlong ? StoredLayout::Packing::kNone : StoredLayout::Packing::kZlib;
    layout.sector_size = 1024u << Pick(rng, 0, 2);
    ASSERT_TRUE(WriteStoredTable(archive, path, bytes, layout));
    const auto size = static_cast<std::uint32_t>(bytes.size());
    const int sectors = static_cast<int>((size - 1) / layout.sector_size + 1);
    for (int spoiled = overlong ? 0 : Pick(rng, 1, 2); spoiled > 0; --spoiled) {
      ASSERT_TRUE(SpoilSector(
          archive, path, size, layout.sector_size,
          static_cast<std::uint32_t>(Pick(rng, t == 0 ? 0 : 1, sectors - 1))));
    }
    if (overlong) {
      ASSERT_TRUE(SetListedSize(
          archive, size,
          static_cast<std::uint32_t>(Pick(rng, 1 << 24, 0x7FFFFFFF))));
    }
    CSelvaneTable table;
    table.OpenDBC(db, wide, path);
    if (overlong) {
      EXPECT_LT(table.MemoryBytes(), 2 * std::filesystem::file_size(archive));
    }
    for (int q = 0; q < 80; ++q) {
      DBParam_t key, result;
      key.fieldIndex = Pick(rng, 0, 1);
      const int r = Pick(rng, 0, records + 2);
      key.intValue = r;
      key.strValue =
          key.fieldIndex == 1 ? "name " + std::to_string(r * 31) : "";
      result.fieldIndex = Pick(rng, 0, 2);
      DBParam_t key2 = key, result2 = result;
      const int want = db.QueryDBC(wide, path, key, result);
      ASSERT_EQ(want, table.Query(key2, result2))
          << "key " << r << " field " << key.fieldIndex << " result field "
          << result.fieldIndex << " " << Describe(layout);
      ASSERT_TRUE(Same(key, key2));
      ASSERT_TRUE(Same(result, result2));
      if (want == 0) ++answered;
    }
  }
  EXPECT_GT(answered, 0);
}

INSTANTIATE_TEST_SUITE_P(Seeds, TableDifferentialTest, ::testing::Range(1, 9));

}  // namespace
