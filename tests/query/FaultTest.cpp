// Files that change or vanish between queries, folders where files belong,
// broken definition files and damaged headers, met the way a host meets
// them: through one query object. Every query gives the answer that the
// bytes on disk mean at that moment, or -1, and none crashes or hangs.
//
// "What the bytes mean" comes from the reference decoder of the test
// support, which reads the fields straight from the bytes, one at a time.
#include <SelvaneLibrary/SelvaneLibrary.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/DbcBuilder.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/MpqBuilder.h"
#include "tests/support/ReferenceDecoder.h"
#include "tests/support/TempDir.h"
#include "tests/support/WdbBuilder.h"

namespace {

namespace fs = std::filesystem;

// --- Fixtures --------------------------------------------------------------

// items.wdb: id, length, name (cstring), amount, ratio (float), flag (byte).
DefinitionBuilder& WdbItems(DefinitionBuilder& defs, const std::string& name) {
  return defs.Table(name)
      .Field("Id", {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
      .Field("Length", {{"position", "1"}, {"type", "integer"}, {"size", "4"}})
      .Field("Name", {{"position", "2"}, {"type", "cstring"}})
      .Field("Amount", {{"position", "3"}, {"type", "integer"}, {"size", "4"}})
      .Field("Ratio", {{"position", "4"}, {"type", "float"}, {"size", "4"}})
      .Field("Flag", {{"position", "5"}, {"type", "byte"}, {"size", "1"}});
}

std::string WdbItemsBytes() {
  WdbBuilder wdb;
  wdb.Record(7).CString("seven").Int(70).Float(0.5f).Byte(0xF9);
  wdb.Record(8).CString("eight").Int(80).Float(1.25f).Byte(0x08);
  wdb.Record(9).CString("").Int(90).Float(-2.0f).Byte(0x80);
  return wdb.bytes();
}

// Items.dbc: id, name (string), weight (float), level (byte), and a score
// right after the byte, so that it lies unaligned.
DefinitionBuilder& DbcItems(DefinitionBuilder& defs, const std::string& name) {
  return defs.Table(name)
      .Field("Id", {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
      .Field("Name", {{"position", "1"}, {"type", "string"}, {"size", "4"}})
      .Field("Weight", {{"position", "2"}, {"type", "float"}, {"size", "4"}})
      .Field("Level", {{"position", "3"}, {"type", "byte"}, {"size", "1"}})
      .Field("Score", {{"position", "4"}, {"type", "integer"}, {"size", "4"}});
}

std::string DbcItemsBytes() {
  return DbcBuilder()
      .Record({Int(1), Str("one"), Float(1.5f), Byte(0x01), Int(100)})
      .Record({Int(2), Str("two"), Float(2.5f), Byte(0xFE), Int(200)})
      .Record({Int(3), Str("three"), Float(-0.0f), Byte(0x7F), Int(300)})
      .Build();
}

// --- Questions and answers -------------------------------------------------

struct Ask {
  const char* label;
  DBParam_t key;
  std::int32_t resultIndex;
};

Ask IntAsk(const char* label, std::int32_t index, std::int32_t value,
           std::int32_t result) {
  Ask a{label, {}, result};
  a.key.fieldIndex = index;
  a.key.intValue = value;
  return a;
}

Ask TextAsk(const char* label, std::int32_t index, const std::string& value,
            std::int32_t result) {
  Ask a{label, {}, result};
  a.key.fieldIndex = index;
  a.key.strValue = value;
  return a;
}

Ask FloatAsk(const char* label, std::int32_t index, float value,
             std::int32_t result) {
  Ask a{label, {}, result};
  a.key.fieldIndex = index;
  a.key.floatValue = value;
  return a;
}

const std::vector<Ask>& WdbAsks() {
  static const std::vector<Ask> asks = {
      IntAsk("amount of 8", 0, 8, 3),   IntAsk("name of 9", 0, 9, 2),
      IntAsk("flag of 7", 0, 7, 5),     TextAsk("ratio by name", 2, "eight", 4),
      IntAsk("id by amount", 3, 90, 0), FloatAsk("length by ratio", 4, 0.5f, 1),
      IntAsk("name by flag", 5, -7, 2), IntAsk("no such id", 0, 100, 3),
  };
  return asks;
}

const std::vector<Ask>& DbcAsks() {
  static const std::vector<Ask> asks = {
      IntAsk("name of 2", 0, 2, 1),
      IntAsk("score of 3", 0, 3, 4),
      IntAsk("level of 1", 0, 1, 3),
      TextAsk("weight by name", 1, "two", 2),
      FloatAsk("id by weight", 2, 2.5f, 0),
      IntAsk("name by level", 3, -2, 1),
      IntAsk("level by score", 4, 300, 3),
      TextAsk("no such name", 1, "nine", 0),
  };
  return asks;
}

// The result record before a query: values a read would hardly produce.
constexpr std::int32_t kUntouchedInt = -123456789;
constexpr float kUntouchedFloat = -4321.25f;

std::uint32_t BitsOf(float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

// What a query gave back. The type counts only on success: a failed query
// may have written it. Floats are compared bit for bit.
struct Answer {
  int status = -1;
  std::int32_t type = 0;
  std::int32_t intValue = kUntouchedInt;
  std::string text;
  std::uint32_t floatBits = BitsOf(kUntouchedFloat);

  bool operator==(const Answer& o) const {
    return std::tie(status, type, intValue, text, floatBits) ==
           std::tie(o.status, o.type, o.intValue, o.text, o.floatBits);
  }
};

std::ostream& operator<<(std::ostream& os, const Answer& a) {
  return os << "{status " << a.status << ", type " << a.type << ", int "
            << a.intValue << ", text \"" << a.text << "\", float bits 0x"
            << std::hex << a.floatBits << std::dec << "}";
}

Answer Failed() { return Answer{}; }

Answer IntAnswer(std::int32_t type, std::int32_t v) {
  Answer a;
  a.status = 0;
  a.type = type;
  a.intValue = v;
  return a;
}

Answer TextAnswer(std::int32_t type, const std::string& text) {
  Answer a;
  a.status = 0;
  a.type = type;
  a.text = text;
  return a;
}

Answer FloatAnswer(std::uint32_t bits) {
  Answer a;
  a.status = 0;
  a.type = kTypeFloat;
  a.floatBits = bits;
  return a;
}

Answer Collect(int status, const DBParam_t& result) {
  Answer a;
  a.status = status;
  a.type = status == 0 ? result.type : 0;
  a.intValue = result.intValue;
  a.text = result.strValue;
  a.floatBits = BitsOf(result.floatValue);
  return a;
}

Answer AskWdb(const CSelvaneObject& db, const std::wstring& path,
              const Ask& ask) {
  DBParam_t key = ask.key;
  DBParam_t result;
  result.fieldIndex = ask.resultIndex;
  result.intValue = kUntouchedInt;
  result.floatValue = kUntouchedFloat;
  return Collect(db.QueryWDB(path, key, result), result);
}

Answer AskDbc(const CSelvaneObject& db, const std::wstring& archive,
              const std::string& table, const Ask& ask) {
  DBParam_t key = ask.key;
  DBParam_t result;
  result.fieldIndex = ask.resultIndex;
  result.intValue = kUntouchedInt;
  result.floatValue = kUntouchedFloat;
  return Collect(db.QueryDBC(archive, table, key, result), result);
}

// --- Reference decoders ----------------------------------------------------

FieldAttr_t Column(std::int32_t position, std::int32_t type,
                   std::int32_t size) {
  FieldAttr_t f;
  f.position = position;
  f.type = type;
  f.size = size;
  return f;
}

// The fixtures' definitions as the loader stores them.
FieldMap FieldsOf(std::initializer_list<FieldAttr_t> columns) {
  FieldMap fields;
  for (const FieldAttr_t& f : columns) fields[f.position] = f;
  return fields;
}
const FieldMap& WdbItemsFields() {
  static const FieldMap fields =
      FieldsOf({Column(0, kTypeInteger, 4), Column(1, kTypeInteger, 4),
                Column(2, kTypeCString, 0), Column(3, kTypeInteger, 4),
                Column(4, kTypeFloat, 4), Column(5, kTypeByte, 1)});
  return fields;
}
const FieldMap& DbcItemsFields() {
  static const FieldMap fields =
      FieldsOf({Column(0, kTypeInteger, 4), Column(1, kTypeString, 4),
                Column(2, kTypeFloat, 4), Column(3, kTypeByte, 1),
                Column(4, kTypeInteger, 4)});
  return fields;
}

// What ask means for these bytes, by the reference decoder.
template <typename Decode>
Answer Reference(Decode decode, const std::string& bytes,
                 const FieldMap& fields, const Ask& ask) {
  DBParam_t key = ask.key;
  DBParam_t result;
  result.fieldIndex = ask.resultIndex;
  result.intValue = kUntouchedInt;
  result.floatValue = kUntouchedFloat;
  return Collect(decode(bytes, fields, key, result), result);
}
Answer WdbReference(const std::string& bytes, const Ask& ask) {
  return Reference(reference::QueryWdb, bytes, WdbItemsFields(), ask);
}
Answer DbcReference(const std::string& table, const Ask& ask) {
  return Reference(reference::QueryDbc, table, DbcItemsFields(), ask);
}

// --- Shared fixture --------------------------------------------------------

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class FaultTest : public ::testing::Test {
 protected:
  std::wstring W(const std::string& name) const {
    return Widen(dir_.File(name));
  }
  std::wstring Definitions(const std::string& name = "defs.xml") const {
    DefinitionBuilder defs;
    WdbItems(defs, "items.wdb");
    DbcItems(defs, "Items.dbc");
    return defs.WriteTo(dir_, name);
  }
  void WriteArchive(
      const std::string& name, const std::string& table,
      MpqBuilder::Storage storage = MpqBuilder::Storage::kPlain) const {
    MpqBuilder().Add("Items.dbc", table, storage).Write(dir_.File(name));
  }
  // Every ask of both tables, in order.
  std::vector<Answer> AskAll(const CSelvaneObject& db) const {
    std::vector<Answer> all;
    for (const Ask& ask : WdbAsks())
      all.push_back(AskWdb(db, W("items.wdb"), ask));
    for (const Ask& ask : DbcAsks()) {
      all.push_back(AskDbc(db, W("a.mpq"), "Items.dbc", ask));
    }
    return all;
  }
  void ExpectWdbMeans(const CSelvaneObject& db,
                      const std::string& bytes) const {
    for (const Ask& ask : WdbAsks()) {
      SCOPED_TRACE(ask.label);
      EXPECT_EQ(WdbReference(bytes, ask), AskWdb(db, W("items.wdb"), ask));
    }
  }
  void ExpectDbcMeans(const CSelvaneObject& db,
                      const std::string& table) const {
    for (const Ask& ask : DbcAsks()) {
      SCOPED_TRACE(ask.label);
      EXPECT_EQ(DbcReference(table, ask),
                AskDbc(db, W("a.mpq"), "Items.dbc", ask));
    }
  }

  TempDir dir_;
};

// The reference decoders read the unchanged fixtures as they were written,
// and the library agrees; the tests below lean on both.
TEST_F(FaultTest, ReferenceDecodersReadTheFixtures) {
  const std::string wdb = WdbItemsBytes();
  const std::string dbc = DbcItemsBytes();
  EXPECT_EQ(IntAnswer(kTypeInteger, 80), WdbReference(wdb, WdbAsks()[0]));
  EXPECT_EQ(TextAnswer(kTypeCString, ""), WdbReference(wdb, WdbAsks()[1]));
  EXPECT_EQ(IntAnswer(kTypeByte, -7), WdbReference(wdb, WdbAsks()[2]));
  EXPECT_EQ(FloatAnswer(BitsOf(1.25f)), WdbReference(wdb, WdbAsks()[3]));
  EXPECT_EQ(IntAnswer(kTypeInteger, 9), WdbReference(wdb, WdbAsks()[4]));
  EXPECT_EQ(IntAnswer(kTypeInteger, 15), WdbReference(wdb, WdbAsks()[5]));
  EXPECT_EQ(TextAnswer(kTypeCString, "seven"), WdbReference(wdb, WdbAsks()[6]));
  EXPECT_EQ(Failed(), WdbReference(wdb, WdbAsks()[7]));
  EXPECT_EQ(TextAnswer(kTypeString, "two"), DbcReference(dbc, DbcAsks()[0]));
  EXPECT_EQ(IntAnswer(kTypeInteger, 300), DbcReference(dbc, DbcAsks()[1]));
  EXPECT_EQ(IntAnswer(kTypeByte, 1), DbcReference(dbc, DbcAsks()[2]));
  EXPECT_EQ(FloatAnswer(BitsOf(2.5f)), DbcReference(dbc, DbcAsks()[3]));
  EXPECT_EQ(IntAnswer(kTypeInteger, 2), DbcReference(dbc, DbcAsks()[4]));
  EXPECT_EQ(TextAnswer(kTypeString, "two"), DbcReference(dbc, DbcAsks()[5]));
  EXPECT_EQ(IntAnswer(kTypeByte, 127), DbcReference(dbc, DbcAsks()[6]));
  EXPECT_EQ(Failed(), DbcReference(dbc, DbcAsks()[7]));

  dir_.Write("items.wdb", wdb);
  WriteArchive("a.mpq", dbc);
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(Definitions()));
  ExpectWdbMeans(db, wdb);
  ExpectDbcMeans(db, dbc);
}

// How a table is stored in its archive, as a test parameter.
struct Stored {
  const char* label;
  MpqBuilder::Storage storage;
};

const Stored kStorages[] = {{"Plain", MpqBuilder::Storage::kPlain},
                            {"Zlib", MpqBuilder::Storage::kZlib}};

void PrintTo(const Stored& s, std::ostream* os) { *os << s.label; }

std::string StoredName(const ::testing::TestParamInfo<Stored>& info) {
  return info.param.label;
}

// --- Files replaced or deleted between two queries -------------------------

// How a file is swapped for other bytes: rewritten where it stands, or a new
// file renamed over it (a new inode, as a client updating its cache does).
enum class Swap { kInPlace, kRename, kDelete };

void SwapFile(const TempDir& dir, const std::string& name,
              const std::string& bytes, Swap how) {
  switch (how) {
    case Swap::kInPlace:
      dir.Write(name, bytes);
      break;
    case Swap::kRename:
      dir.Write(name + ".new", bytes);
      fs::rename(dir.File(name + ".new"), dir.File(name));
      break;
    case Swap::kDelete:
      fs::remove(dir.File(name));
      break;
  }
}

struct Shorter {
  std::string label;
  std::string bytes;
  Swap how;
};

TEST_F(FaultTest, WdbFileShortenedOrDeletedBetweenQueries) {
  const std::string full = WdbItemsBytes();
  std::vector<Shorter> cases;
  for (std::size_t n = 0; n < full.size(); ++n) {
    const Swap how = n % 2 == 0 ? Swap::kInPlace : Swap::kRename;
    cases.push_back({"cut to " + std::to_string(n), full.substr(0, n), how});
  }
  WdbBuilder fewer;
  fewer.Record(7).CString("seven").Int(70).Float(0.5f).Byte(0xF9);
  WdbBuilder other;
  other.Record(8).CString("8").Int(81).Float(0.5f).Byte(0x01);
  other.Record(9).CString("").Int(91).Float(3.0f).Byte(0x02);
  cases.push_back({"one record", fewer.bytes(), Swap::kInPlace});
  cases.push_back({"other values", other.bytes(), Swap::kRename});
  cases.push_back({"deleted", "", Swap::kDelete});

  dir_.Write("items.wdb", full);
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(Definitions()));
  for (const Shorter& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_LT(c.bytes.size(), full.size());
    ExpectWdbMeans(db, full);
    SwapFile(dir_, "items.wdb", c.bytes, c.how);
    if (c.how == Swap::kDelete) {
      for (const Ask& ask : WdbAsks()) {
        EXPECT_EQ(Failed(), AskWdb(db, W("items.wdb"), ask)) << ask.label;
      }
    } else {
      ExpectWdbMeans(db, c.bytes);
    }
    dir_.Write("items.wdb", full);
  }
}

TEST_F(FaultTest, ArchiveReplacedOrDeletedBetweenQueries) {
  const std::string full = DbcItemsBytes();
  const std::string fewer =
      DbcBuilder()
          .Record({Int(1), Str("one"), Float(1.5f), Byte(0x01), Int(100)})
          .Build();
  const std::string other =
      DbcBuilder()
          .Record({Int(2), Str("2"), Float(0.5f), Byte(0x7F), Int(7)})
          .Record({Int(3), Str(""), Float(2.5f), Byte(0xFE), Int(300)})
          .Build();
  // Each replacement archive holds a shorter table (or none).
  struct Case {
    const char* label;
    std::optional<std::string> table;  // none: the archive lacks it
    MpqBuilder::Storage storage;
  };
  const Case cases[] = {
      {"one record", fewer, MpqBuilder::Storage::kPlain},
      {"one record, compressed", fewer, MpqBuilder::Storage::kZlib},
      {"other values", other, MpqBuilder::Storage::kPlain},
      {"other values, compressed", other, MpqBuilder::Storage::kZlib},
      {"table cut after its header", full.substr(0, 20),
       MpqBuilder::Storage::kPlain},
      {"table cut inside its strings", full.substr(0, full.size() - 3),
       MpqBuilder::Storage::kZlib},
      {"no such table", std::nullopt, MpqBuilder::Storage::kPlain},
  };
  WriteArchive("a.mpq", full);
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(Definitions()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ExpectDbcMeans(db, full);
    if (c.table) {
      WriteArchive("a.mpq", *c.table, c.storage);
      ExpectDbcMeans(db, *c.table);
    } else {
      MpqBuilder().Add("Other.dbc", full).Write(dir_.File("a.mpq"));
      ExpectDbcMeans(db, "");
    }
    WriteArchive("a.mpq", full);
  }
  // Not an archive at all, or gone.
  for (Swap how : {Swap::kInPlace, Swap::kRename, Swap::kDelete}) {
    for (const std::string& bytes : {std::string(), WdbItemsBytes()}) {
      SCOPED_TRACE(static_cast<int>(how));
      ExpectDbcMeans(db, full);
      SwapFile(dir_, "a.mpq", bytes, how);
      ExpectDbcMeans(db, "");
      WriteArchive("a.mpq", full);
    }
  }
}

// An archive cut short may still open when what the query needs survived;
// then its table holds the old bytes and gives the old answers.
class ArchiveCutTest : public FaultTest,
                       public ::testing::WithParamInterface<Stored> {};

TEST_P(ArchiveCutTest, CutAtEveryLengthFailsOrAnswersAsBefore) {
  const std::string table = DbcItemsBytes();
  WriteArchive("whole.mpq", table, GetParam().storage);
  const std::string archive = ReadFile(dir_.File("whole.mpq"));
  ASSERT_GT(archive.size(), table.size());
  dir_.Write("a.mpq", archive);
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(Definitions()));
  const std::vector<Answer> before = AskAll(db);
  ExpectDbcMeans(db, table);
  for (std::size_t n = 0; n < archive.size(); ++n) {
    SCOPED_TRACE("archive cut to " + std::to_string(n));
    dir_.Write("a.mpq", archive.substr(0, n));
    for (const Ask& ask : DbcAsks()) {
      const Answer got = AskDbc(db, W("a.mpq"), "Items.dbc", ask);
      if (got.status != -1) {
        EXPECT_EQ(DbcReference(table, ask), got) << ask.label;
      } else {
        EXPECT_EQ(Failed(), got) << ask.label;
      }
    }
  }
  dir_.Write("a.mpq", archive);
  EXPECT_EQ(before, AskAll(db));
}

INSTANTIATE_TEST_SUITE_P(Storage, ArchiveCutTest,
                         ::testing::ValuesIn(kStorages), StoredName);

// --- A folder where a file is expected -------------------------------------

TEST_F(FaultTest, DefinitionPathNamingAFolderLoadsNothing) {
  dir_.Write("items.wdb", WdbItemsBytes());
  WriteArchive("a.mpq", DbcItemsBytes());
  fs::create_directory(dir_.File("defs.d"));
  // A folder named like a definition file, holding one.
  fs::create_directory(dir_.File("other.xml"));
  DefinitionBuilder inside;
  WdbItems(inside, "items.wdb");
  inside.WriteTo(dir_, "other.xml/defs.xml");

  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(Definitions()));
  const std::vector<Answer> before = AskAll(db);
  for (const std::string& folder : {dir_.File("defs.d"), dir_.File("other.xml"),
                                    dir_.path(), dir_.path() + "/"}) {
    SCOPED_TRACE(folder);
    EXPECT_EQ(-1, db.InitConfig(Widen(folder)));
    EXPECT_EQ(before, AskAll(db));
  }
  // Nothing loaded on a new object either.
  CSelvaneObject fresh;
  EXPECT_EQ(-1, fresh.InitConfig(W("defs.d")));
  EXPECT_EQ(Failed(), AskWdb(fresh, W("items.wdb"), WdbAsks()[0]));
}

TEST_F(FaultTest, TableFileNamingAFolderFails) {
  const std::string wdb = WdbItemsBytes();
  const std::string dbc = DbcItemsBytes();
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(Definitions()));
  // Each file becomes an empty folder, then one holding a file of its own
  // name and bytes, then the file again.
  for (const bool isWdb : {true, false}) {
    const std::string name = isWdb ? "items.wdb" : "a.mpq";
    SCOPED_TRACE(name);
    const auto expectMeans = [&](const std::string& bytes) {
      if (isWdb) {
        ExpectWdbMeans(db, bytes);
      } else {
        ExpectDbcMeans(db, bytes);
      }
    };
    const auto restore = [&] {
      if (isWdb) {
        dir_.Write(name, wdb);
      } else {
        WriteArchive(name, dbc);
      }
      expectMeans(isWdb ? wdb : dbc);
    };
    restore();
    fs::remove(dir_.File(name));
    fs::create_directory(dir_.File(name));
    expectMeans("");
    dir_.Write(name + "/" + name, isWdb ? wdb : dbc);
    expectMeans("");
    fs::remove_all(dir_.File(name));
    restore();
  }
}

// --- Broken definition files -----------------------------------------------

// A document that redefines both tables so that their answers change, and
// adds a third; loaded whole, every probe below gives its "after" answer.
std::string CandidateXml() {
  DefinitionBuilder defs;
  defs.Table("items.wdb")
      .Field("Id", {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
      .Field("Length", {{"position", "1"}, {"type", "integer"}, {"size", "4"}})
      .Field("Name", {{"position", "2"}, {"type", "cstring"}})
      .Field("Amount", {{"position", "3"}, {"type", "float"}, {"size", "4"}});
  defs.Table("Items.dbc")
      .Field("Id", {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
      .Field("Name", {{"position", "1"}, {"type", "string"}, {"size", "4"}})
      .Field("Weight", {{"position", "2"}, {"type", "integer"}, {"size", "4"}});
  WdbItems(defs, "extra.wdb");
  return defs.Xml();
}

// One query with its answer under the first definitions and under the
// candidate document.
struct Probe {
  const char* label;
  bool wdb;
  const char* file;  // WDB file, or table inside a.mpq
  Ask ask;
  Answer before, after;
};

std::vector<Probe> Probes() {
  return {
      {"wdb amount, redefined as float", true, "items.wdb", IntAsk("", 0, 8, 3),
       IntAnswer(kTypeInteger, 80), FloatAnswer(80)},
      {"wdb flag, dropped", true, "items.wdb", IntAsk("", 0, 7, 5),
       IntAnswer(kTypeByte, -7), Failed()},
      {"wdb table added", true, "extra.wdb", IntAsk("", 0, 8, 2), Failed(),
       TextAnswer(kTypeCString, "eight")},
      {"dbc weight, redefined as integer", false, "Items.dbc",
       IntAsk("", 0, 2, 2), FloatAnswer(BitsOf(2.5f)),
       IntAnswer(kTypeInteger, static_cast<std::int32_t>(BitsOf(2.5f)))},
      {"dbc id by name, kept", false, "Items.dbc", TextAsk("", 1, "two", 0),
       IntAnswer(kTypeInteger, 2), IntAnswer(kTypeInteger, 2)},
  };
}

class DefinitionFileTest : public FaultTest {
 protected:
  void SetUp() override {
    dir_.Write("items.wdb", WdbItemsBytes());
    dir_.Write("extra.wdb", WdbItemsBytes());
    WriteArchive("a.mpq", DbcItemsBytes());
    base_ = Definitions("base.xml");
  }
  Answer Run(const CSelvaneObject& db, const Probe& p) const {
    return p.wdb ? AskWdb(db, W(p.file), p.ask)
                 : AskDbc(db, W("a.mpq"), p.file, p.ask);
  }
  void ExpectBefore(const CSelvaneObject& db) const {
    for (const Probe& p : Probes()) EXPECT_EQ(p.before, Run(db, p)) << p.label;
  }

  std::wstring base_;
};

TEST_F(DefinitionFileTest, ProbesTellTheDocumentsApart) {
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(base_));
  ExpectBefore(db);
  ASSERT_EQ(0, db.InitConfig(DefinitionBuilder::WriteRaw(dir_, "candidate.xml",
                                                         CandidateXml())));
  for (const Probe& p : Probes()) EXPECT_EQ(p.after, Run(db, p)) << p.label;
}

TEST_F(DefinitionFileTest, UnreadableDocumentsChangeNothing) {
  const std::string xml = CandidateXml();
  const std::string utf16 = [&] {
    std::string s = "\xFF\xFE";
    for (char c : xml) s += std::string{c, '\0'};
    return s;
  }();
  struct Case {
    const char* label;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty", ""},
      {"blank", "\n \t\r\n"},
      {"plain text", "items.wdb: id, length, name"},
      {"binary table bytes", WdbItemsBytes()},
      {"byte order mark only", "\xEF\xBB\xBF"},
      {"UTF-16", utf16},
      {"NUL before the root ends",
       xml.substr(0, xml.size() / 2) + '\0' + xml.substr(xml.size() / 2)},
      {"root never closed", xml.substr(0, xml.rfind("</"))},
  };
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(base_));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(-1, db.InitConfig(
                      DefinitionBuilder::WriteRaw(dir_, "bad.xml", c.bytes)));
    ExpectBefore(db);
  }
}

// Cut at every length, the document either fails to load and changes
// nothing, or loads; then every table answers as one of the two documents
// defines it, or (a table cut short in the loaded part) fails.
TEST_F(DefinitionFileTest, TruncatedAtEveryLength) {
  const std::string xml = CandidateXml();
  std::size_t loaded = 0;
  for (std::size_t n = 0; n <= xml.size(); ++n) {
    SCOPED_TRACE("cut to " + std::to_string(n) + " bytes");
    CSelvaneObject db;
    ASSERT_EQ(0, db.InitConfig(base_));
    const int status = db.InitConfig(
        DefinitionBuilder::WriteRaw(dir_, "cut.xml", xml.substr(0, n)));
    ASSERT_TRUE(status == 0 || status == -1) << status;
    if (status == -1) {
      ExpectBefore(db);
      continue;
    }
    ++loaded;
    for (const Probe& p : Probes()) {
      const Answer got = Run(db, p);
      EXPECT_TRUE(got == p.before || got == p.after || got == Failed())
          << p.label << ": " << got;
    }
  }
  // Nothing in an empty file; the whole document is good.
  EXPECT_LT(loaded, xml.size() + 1);
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(base_));
  ASSERT_EQ(0,
            db.InitConfig(DefinitionBuilder::WriteRaw(dir_, "cut.xml", xml)));
  for (const Probe& p : Probes()) EXPECT_EQ(p.after, Run(db, p)) << p.label;
}

// --- Damaged headers -------------------------------------------------------

// A byte either set to value or xored with it.
struct Flip {
  const char* label;
  bool set;
  unsigned char value;
};

const Flip kFlips[] = {
    {"xor 01", false, 0x01}, {"xor 80", false, 0x80}, {"xor FF", false, 0xFF},
    {"set 00", true, 0x00},  {"set FF", true, 0xFF},
};

std::string Flipped(const std::string& bytes, std::size_t at, const Flip& f) {
  std::string out = bytes;
  const auto old = static_cast<unsigned char>(out[at]);
  out[at] = static_cast<char>(f.set ? f.value : old ^ f.value);
  return out;
}

// The WDB header is not interpreted, so the flips run over the whole small
// file: the header, and every record's id and length with its fields.
TEST_F(FaultTest, WdbBytesFlippedOneAtATime) {
  const std::string full = WdbItemsBytes();
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(Definitions()));
  for (std::size_t at = 0; at < full.size(); ++at) {
    for (const Flip& f : kFlips) {
      SCOPED_TRACE("byte " + std::to_string(at) + " " + f.label);
      const std::string bytes = Flipped(full, at, f);
      dir_.Write("items.wdb", bytes);
      ExpectWdbMeans(db, bytes);
    }
  }
}

class DbcHeaderFlipTest : public FaultTest,
                          public ::testing::WithParamInterface<Stored> {};

TEST_P(DbcHeaderFlipTest, HeaderBytesFlippedOneAtATime) {
  // Every flipped table in one archive, each in a folder of its own: the
  // definition is found by the name after the folder.
  const std::string full = DbcItemsBytes();
  MpqBuilder mpq;
  std::vector<std::string> tables;
  for (std::size_t at = 0; at < 20; ++at) {
    for (std::size_t f = 0; f < std::size(kFlips); ++f) {
      tables.push_back(Flipped(full, at, kFlips[f]));
      mpq.Add("F" + std::to_string(tables.size()) + "\\Items.dbc",
              tables.back(), GetParam().storage);
    }
  }
  mpq.Write(dir_.File("flips.mpq"));
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(Definitions()));
  for (std::size_t t = 0; t < tables.size(); ++t) {
    const std::size_t at = t / std::size(kFlips);
    SCOPED_TRACE("byte " + std::to_string(at) + " " +
                 kFlips[t % std::size(kFlips)].label);
    const std::string path = "F" + std::to_string(t + 1) + "\\Items.dbc";
    for (const Ask& ask : DbcAsks()) {
      EXPECT_EQ(DbcReference(tables[t], ask),
                AskDbc(db, W("flips.mpq"), path, ask))
          << ask.label;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Storage, DbcHeaderFlipTest,
                         ::testing::ValuesIn(kStorages), StoredName);

}  // namespace
