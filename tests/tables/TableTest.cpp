// What a table offers besides Query: FindAll, Read, the field names and
// counts, checked against the values the seeded random files were written
// with; why an open fails; several archives; definitions taken at open;
// moves.
#include <SelvaneLibrary/SelvaneLibrary.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/support/DbcBuilder.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/MpqBuilder.h"
#include "tests/support/TempDir.h"
#include "tests/support/WdbBuilder.h"

namespace {

using Rng = std::mt19937;
using selvane::TableStatus;

int Pick(Rng& rng, int lo, int hi) {
  return std::uniform_int_distribution<int>(lo, hi)(rng);
}

// One cell as written: the member its type reads into.
struct Value {
  std::int32_t i = 0;
  float f = 0.0f;
  std::string s;
};

struct Column {
  std::string type;  // the definition's type word
  std::int32_t code;
  std::string name;
};

// A table as the test wrote it: columns, and the cells of every record.
struct Model {
  std::vector<Column> columns;
  std::vector<std::vector<Value>> records;
};

std::int32_t CodeOf(const std::string& type) {
  const char* const words[] = {"integer", "string",  "float", "bit",
                               "byte",    "cstring", "amount"};
  for (std::int32_t c = 0; c < 7; ++c) {
    if (type == words[c]) return c;
  }
  return -1;
}

const char* const kTexts[] = {"", "a", "Axe", "axe", "b,c", "say \"hi\""};

Value RandomValue(Rng& rng, const std::string& type, bool wdb) {
  Value v;
  const float floats[] = {0.0f, -0.0f, 1.5f, -2.25f,
                          std::numeric_limits<float>::quiet_NaN()};
  if (type == "float") {
    v.f = floats[Pick(rng, 0, 4)];
  } else if (type == "byte") {
    v.i = static_cast<signed char>(Pick(rng, -128, 127) / 32 * 32);
  } else if ((type == "cstring" && wdb) || (type == "string" && !wdb)) {
    v.s = kTexts[Pick(rng, 0, 5)];
  } else {
    v.i = Pick(rng, -2, 3);
  }
  return v;
}

Model RandomModel(Rng& rng, bool wdb) {
  const char* const types[] = {"integer", "float", "byte",   "cstring",
                               "string",  "bit",   "amount", ""};
  Model m;
  const int columns = Pick(rng, 1, 6) + (wdb ? 2 : 0);
  for (int c = 0; c < columns; ++c) {
    Column col;
    col.type = wdb && c < 2 ? "integer" : types[Pick(rng, 0, 7)];
    col.code = CodeOf(col.type);
    col.name = Pick(rng, 0, 3) == 0 ? "" : "F" + std::to_string(c);
    m.columns.push_back(col);
  }
  const int records = Pick(rng, 0, 30);
  for (int r = 0; r < records; ++r) {
    std::vector<Value> cells;
    for (const Column& col : m.columns) {
      cells.push_back(RandomValue(rng, col.type, wdb));
    }
    if (wdb) cells[0].i = Pick(rng, 0, 5);  // ids repeat
    m.records.push_back(cells);
  }
  return m;
}

std::wstring Define(const TempDir& dir, const std::string& root,
                    const std::string& name, const Model& m) {
  DefinitionBuilder defs(root);
  defs.Table(name);
  for (std::size_t c = 0; c < m.columns.size(); ++c) {
    const Column& col = m.columns[c];
    DefinitionBuilder::Attributes attrs = {
        {"position", std::to_string(c)},
        {"size", col.type == "byte" ? "1" : "4"}};
    if (!col.type.empty()) attrs.push_back({"type", col.type});
    defs.Field(col.name, attrs);
  }
  return defs.WriteTo(dir, name + ".xml");
}

std::string WdbBytes(Model* m) {
  WdbBuilder wdb;
  for (auto& cells : m->records) {
    wdb.Record(cells[0].i);
    for (std::size_t c = 2; c < m->columns.size(); ++c) {
      const std::string& type = m->columns[c].type;
      if (type == "float") {
        wdb.Float(cells[c].f);
      } else if (type == "byte") {
        wdb.Byte(static_cast<std::uint8_t>(cells[c].i));
      } else if (type == "cstring") {
        wdb.CString(cells[c].s);
      } else {
        wdb.Int(cells[c].i);
      }
    }
    const std::size_t start = wdb.record_start();
    cells[1].i = static_cast<std::int32_t>(wdb.size() - start - 8);
  }
  return wdb.bytes();
}

std::string DbcBytes(const Model& m) {
  DbcBuilder dbc;
  for (const auto& cells : m.records) {
    std::vector<DbcCell> row;
    for (std::size_t c = 0; c < m.columns.size(); ++c) {
      const std::string& type = m.columns[c].type;
      if (type == "float") {
        row.push_back(Float(cells[c].f));
      } else if (type == "byte") {
        row.push_back(Byte(static_cast<std::uint8_t>(cells[c].i)));
      } else if (type == "string") {
        row.push_back(Str(cells[c].s));
      } else {
        row.push_back(Int(cells[c].i));
      }
    }
    dbc.Record(row);
  }
  if (m.records.empty()) {
    dbc.FieldCount(static_cast<std::int32_t>(m.columns.size()));
  }
  return dbc.Build();
}

// The type a read reports, and whether the reader can read it at all.
std::int32_t ReportedType(const Column& col, bool wdb, std::size_t index) {
  if (wdb) return index < 2 ? 0 : col.code;
  return col.code < 0 ? 0 : col.code;
}

bool Readable(const Column& col, bool wdb, std::size_t index) {
  if (!wdb || index < 2) return true;
  return col.code == 0 || col.code == 2 || col.code == 4 || col.code == 5;
}

bool IsText(const Column& col, bool wdb) { return col.code == (wdb ? 5 : 1); }

bool Matches(const Column& col, bool wdb, const Value& cell,
             const DBParam_t& key) {
  if (IsText(col, wdb)) return cell.s == key.strValue;
  if (col.code == 2) return cell.f == key.floatValue;
  return cell.i == key.intValue;
}

void CheckAgainstModel(const CSelvaneTable& table, const Model& m, bool wdb,
                       Rng& rng) {
  ASSERT_TRUE(table.IsOpen());
  ASSERT_EQ(static_cast<std::int32_t>(m.records.size()), table.RecordCount());
  ASSERT_EQ(static_cast<std::int32_t>(m.columns.size()), table.FieldCount());
  for (std::size_t c = 0; c < m.columns.size(); ++c) {
    const Column& col = m.columns[c];
    const auto index = static_cast<std::int32_t>(c);
    const std::string name =
        col.name.empty() ? "Undef_" + std::to_string(c) : col.name;
    EXPECT_EQ(name, table.FieldName(index));
    EXPECT_EQ(index, table.FieldIndex(name));
    EXPECT_EQ(ReportedType(col, wdb, c), table.FieldType(index));
  }
  EXPECT_EQ(-1, table.FieldIndex("no such field"));
  EXPECT_EQ("", table.FieldName(table.FieldCount()));
  EXPECT_EQ("", table.FieldName(-1));

  // Read: every cell, then the edges.
  for (std::size_t r = 0; r < m.records.size(); ++r) {
    for (std::size_t c = 0; c < m.columns.size(); ++c) {
      SCOPED_TRACE("record " + std::to_string(r) + " field " +
                   std::to_string(c));
      const Column& col = m.columns[c];
      const Value& cell = m.records[r][c];
      DBParam_t field;
      field.fieldIndex = static_cast<std::int32_t>(c);
      field.strValue = "old:";
      const int read = table.Read(static_cast<std::int32_t>(r), field);
      EXPECT_EQ(ReportedType(col, wdb, c), field.type);
      if (!Readable(col, wdb, c)) {
        EXPECT_EQ(-1, read);
        continue;
      }
      ASSERT_EQ(0, read);
      if (IsText(col, wdb)) {
        EXPECT_EQ("old:" + cell.s, field.strValue);
      } else if (col.code == 2) {
        EXPECT_EQ(0, std::memcmp(&cell.f, &field.floatValue, 4));
      } else {
        EXPECT_EQ(cell.i, field.intValue);
      }
    }
  }
  DBParam_t edge;
  edge.fieldIndex = 0;
  EXPECT_EQ(-1, table.Read(-1, edge));
  EXPECT_EQ(-1, table.Read(table.RecordCount(), edge));
  edge.fieldIndex = table.FieldCount();
  EXPECT_EQ(-1, table.Read(0, edge));

  // FindAll: keys taken from the cells, and a few no record holds.
  for (int q = 0; q < 60; ++q) {
    const auto c = static_cast<std::size_t>(
        Pick(rng, 0, static_cast<int>(m.columns.size()) - 1));
    const Column& col = m.columns[c];
    DBParam_t key;
    key.fieldIndex = static_cast<std::int32_t>(c);
    if (!m.records.empty() && Pick(rng, 0, 4) != 0) {
      const Value& v = m.records[static_cast<std::size_t>(
          Pick(rng, 0, static_cast<int>(m.records.size()) - 1))][c];
      key.intValue = v.i;
      key.floatValue = Pick(rng, 0, 5) == 0 && v.f == 0.0f ? -v.f : v.f;
      key.strValue = v.s;
    } else {
      key.intValue = 99;
      key.floatValue = 99.0f;
      key.strValue = "absent";
    }
    std::vector<std::int32_t> want;
    if (Readable(col, wdb, c)) {
      for (std::size_t r = 0; r < m.records.size(); ++r) {
        if (Matches(col, wdb, m.records[r][c], key))
          want.push_back(static_cast<std::int32_t>(r));
      }
    }
    std::vector<std::int32_t> got = {12345};
    const int status = table.FindAll(key, got);
    EXPECT_EQ(want.empty() ? -1 : 0, status) << "field " << c;
    EXPECT_EQ(want, got) << "field " << c;
  }
}

class TableModelTest : public ::testing::TestWithParam<int> {};

TEST_P(TableModelTest, WdbReadAndFindAllGiveTheCellsWritten) {
  Rng rng(static_cast<Rng::result_type>(GetParam()));
  TempDir dir;
  for (int t = 0; t < 10; ++t) {
    SCOPED_TRACE("table " + std::to_string(t));
    Model m = RandomModel(rng, true);
    const std::string bytes = WdbBytes(&m);
    CSelvaneObject db;
    ASSERT_EQ(0, db.InitConfig(Define(dir, "WDBFile", "items.wdb", m)));
    CSelvaneTable table;
    ASSERT_EQ(0, table.OpenWDB(db, Widen(dir.Write("items.wdb", bytes))));
    EXPECT_EQ(TableStatus::kOpen, table.Status());
    CheckAgainstModel(table, m, true, rng);
  }
}

TEST_P(TableModelTest, DbcReadAndFindAllGiveTheCellsWritten) {
  Rng rng(static_cast<Rng::result_type>(GetParam()) + 500u);
  TempDir dir;
  std::vector<Model> models;
  MpqBuilder mpq;
  DefinitionBuilder defs("DBCFile");
  for (int t = 0; t < 10; ++t) {
    models.push_back(RandomModel(rng, false));
    mpq.Add(
        "Data\\T" + std::to_string(t) + ".dbc", DbcBytes(models.back()),
        t % 2 == 0 ? MpqBuilder::Storage::kPlain : MpqBuilder::Storage::kZlib);
  }
  const std::string archive = dir.File("data.mpq");
  mpq.Write(archive);
  for (int t = 0; t < 10; ++t) {
    SCOPED_TRACE("table " + std::to_string(t));
    const std::string name = "T" + std::to_string(t) + ".dbc";
    CSelvaneObject db;
    ASSERT_EQ(0, db.InitConfig(Define(dir, "DBCFile", name,
                                      models[static_cast<std::size_t>(t)])));
    CSelvaneTable table;
    ASSERT_EQ(0, table.OpenDBC(db, Widen(archive), "Data\\" + name));
    CheckAgainstModel(table, models[static_cast<std::size_t>(t)], false, rng);
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, TableModelTest, ::testing::Range(1, 6));

// A small DBC table and a WDB file with names, for the cases below.
class TableOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DefinitionBuilder defs("DBCFile");
    defs.Table("Items.dbc")
        .Field("Id", {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
        .Field("Name", {{"position", "1"}, {"type", "string"}, {"size", "4"}});
    defs.Table("items.wdb")
        .Field("Id", {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
        .Field("Length", {{"position", "1"}, {"type", "integer"}})
        .Field("Name", {{"position", "2"}, {"type", "cstring"}});
    defs_ = defs.WriteTo(dir_, "defs.xml");
    ASSERT_EQ(0, db_.InitConfig(defs_));
    base_ = dir_.File("base.mpq");
    MpqBuilder()
        .Add("Data\\Items.dbc", Dbc("base"))
        .Add("Data\\Other.dbc", Dbc("other"))
        .Write(base_);
    patch_ = dir_.File("patch.mpq");
    MpqBuilder().Add("Data\\Items.dbc", Dbc("patch")).Write(patch_);
    empty_ = dir_.File("empty.mpq");
    MpqBuilder().Add("Data\\Else.dbc", Dbc("else")).Write(empty_);
    WdbBuilder wdb;
    wdb.Record(7).CString("seven");
    wdb_ = dir_.Write("items.wdb", wdb.bytes());
  }

  static std::string Dbc(const std::string& name) {
    return DbcBuilder().Record({Int(1), Str(name)}).Build();
  }

  // The name of record Id 1 in the table opened from these archives.
  std::string NameFrom(const std::vector<std::string>& archives) {
    std::vector<std::wstring> wide;
    for (const auto& a : archives) wide.push_back(Widen(a));
    CSelvaneTable table;
    if (table.OpenDBC(db_, wide, "Data\\Items.dbc") != 0)
      return std::string("status ") + CSelvaneTable::StatusText(table.Status());
    DBParam_t key, result;
    key.intValue = 1;
    result.fieldIndex = 1;
    return table.Query(key, result) == 0 ? result.strValue : "no answer";
  }

  TempDir dir_;
  CSelvaneObject db_;
  std::wstring defs_;
  std::string base_, patch_, empty_, wdb_;
};

TEST_F(TableOpenTest, TheFirstArchiveHoldingTheTableServesIt) {
  EXPECT_EQ("patch", NameFrom({patch_, base_}));
  EXPECT_EQ("base", NameFrom({base_, patch_}));
  EXPECT_EQ("base", NameFrom({empty_, base_}));
  EXPECT_EQ("base", NameFrom({dir_.File("missing.mpq"), base_}));
  EXPECT_EQ("patch", NameFrom({patch_}));
}

TEST_F(TableOpenTest, AFailedOpenTellsWhy) {
  struct Case {
    const char* what;
    std::function<int(CSelvaneTable&)> open;
    TableStatus status;
  };
  const std::string shortFile = dir_.Write("short.wdb", std::string(19, 'x'));
  const std::string noDefs = dir_.Write("nodefs.wdb", std::string(20, 'x'));
  const std::string shortArchive = dir_.File("short.mpq");
  MpqBuilder()
      .Add("Data\\Items.dbc", Dbc("x").substr(0, 19))
      .Write(shortArchive);
  const std::vector<Case> cases = {
      {"wdb without definition",
       [&](CSelvaneTable& t) { return t.OpenWDB(db_, Widen(noDefs)); },
       TableStatus::kNoDefinition},
      {"wdb missing",
       [&](CSelvaneTable& t) {
         return t.OpenWDB(db_, Widen(dir_.File("gone/items.wdb")));
       },
       TableStatus::kFileUnopenable},
      {"wdb is a folder",
       [&](CSelvaneTable& t) {
         const std::string path = dir_.File("folder/items.wdb");
         std::filesystem::create_directories(path);
         return t.OpenWDB(db_, Widen(path));
       },
       TableStatus::kFileUnopenable},
      {"wdb short",
       [&](CSelvaneTable& t) {
         const std::string path = dir_.File("sub");
         std::filesystem::create_directories(path);
         std::filesystem::copy_file(shortFile, path + "/items.wdb");
         return t.OpenWDB(db_, Widen(path + "/items.wdb"));
       },
       TableStatus::kHeaderUnreadable},
      {"wdb path above 8 bits",
       [&](CSelvaneTable& t) {
         return t.OpenWDB(db_, Widen(dir_.path()) + L"/\x4E2D/items.wdb");
       },
       TableStatus::kFileUnopenable},
      {"dbc without definition",
       [&](CSelvaneTable& t) {
         return t.OpenDBC(db_, Widen(base_), "Data\\Nothing.dbc");
       },
       TableStatus::kNoDefinition},
      {"archive missing",
       [&](CSelvaneTable& t) {
         return t.OpenDBC(db_, Widen(dir_.File("gone.mpq")), "Data\\Items.dbc");
       },
       TableStatus::kFileUnopenable},
      {"not an archive",
       [&](CSelvaneTable& t) {
         return t.OpenDBC(db_, Widen(wdb_), "Data\\Items.dbc");
       },
       TableStatus::kFileUnopenable},
      {"table in no archive",
       [&](CSelvaneTable& t) {
         return t.OpenDBC(
             db_, std::vector<std::wstring>{Widen(empty_), Widen(empty_)},
             "Data\\Items.dbc");
       },
       TableStatus::kTableNotFound},
      {"no archives at all",
       [&](CSelvaneTable& t) {
         return t.OpenDBC(db_, std::vector<std::wstring>{}, "Data\\Items.dbc");
       },
       TableStatus::kFileUnopenable},
      {"dbc short",
       [&](CSelvaneTable& t) {
         return t.OpenDBC(db_, Widen(shortArchive), "Data\\Items.dbc");
       },
       TableStatus::kHeaderUnreadable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CSelvaneTable table;
    ASSERT_EQ(0, table.OpenWDB(db_, Widen(wdb_)));  // a failed open closes
    EXPECT_EQ(-1, c.open(table));
    EXPECT_EQ(c.status, table.Status());
    EXPECT_FALSE(table.IsOpen());
    EXPECT_STRNE("", CSelvaneTable::StatusText(table.Status()));
    DBParam_t key, result;
    key.type = 9;
    result.type = 9;
    EXPECT_EQ(-1, table.Query(key, result));
    EXPECT_EQ(9, key.type);
    EXPECT_EQ(9, result.type);
    EXPECT_EQ(0, table.RecordCount());
    EXPECT_EQ(0, table.FieldCount());
  }
}

TEST_F(TableOpenTest, DefinitionsAreTakenAtOpen) {
  CSelvaneTable table;
  {
    CSelvaneObject db(db_);
    ASSERT_EQ(0, table.OpenWDB(db, Widen(wdb_)));
    // Redefined after the open: the table keeps what it opened with.
    DefinitionBuilder other("WDBFile");
    other.Table("items.wdb")
        .Field("Other", {{"position", "0"}, {"type", "float"}});
    ASSERT_EQ(0, db.InitConfig(other.WriteTo(dir_, "other.xml")));
  }  // and the object is gone
  EXPECT_EQ(2, table.FieldIndex("Name"));
  DBParam_t key, result;
  key.intValue = 7;
  result.fieldIndex = 2;
  ASSERT_EQ(0, table.Query(key, result));
  EXPECT_EQ("seven", result.strValue);
  EXPECT_EQ(0, key.type);
}

TEST_F(TableOpenTest, MovesCarryTheTable) {
  CSelvaneTable a;
  ASSERT_EQ(0, a.OpenDBC(db_, Widen(base_), "Data\\Items.dbc"));
  CSelvaneTable b(std::move(a));
  EXPECT_FALSE(a.IsOpen());  // NOLINT(bugprone-use-after-move): moved from
  EXPECT_EQ(TableStatus::kClosed, a.Status());
  DBParam_t key, result;
  key.intValue = 1;
  result.fieldIndex = 1;
  EXPECT_EQ(-1, a.Query(key, result));
  CSelvaneTable c;
  ASSERT_EQ(0, c.OpenWDB(db_, Widen(wdb_)));
  c = std::move(b);
  ASSERT_TRUE(c.IsOpen());
  ASSERT_EQ(0, c.Query(key, result));
  EXPECT_EQ("base", result.strValue);
  c.Close();
  EXPECT_FALSE(c.IsOpen());
  EXPECT_EQ(-1, c.Query(key, result));
}

}  // namespace
