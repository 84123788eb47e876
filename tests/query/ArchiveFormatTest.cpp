// DBC lookups through the query object in archives of every format version
// the archive library writes, stored plain and zlib-compressed, with tables
// of one sector and of several.
#include <SelvaneLibrary/SelvaneLibrary.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/DbcBuilder.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/MpqBuilder.h"
#include "tests/support/SharedWriter.h"
#include "tests/support/TempDir.h"

namespace {

struct ArchiveFormat {
  int version;
  MpqBuilder::Storage storage;
  int records;  // 3: one sector; 3000: several
};

void PrintTo(const ArchiveFormat& f, std::ostream* os) {
  *os << "v" << f.version
      << (f.storage == MpqBuilder::Storage::kZlib ? "_zlib_" : "_plain_")
      << f.records;
}

std::string NameOf(std::int32_t id) { return "name" + std::to_string(id); }

class ArchiveFormatTest : public ::testing::TestWithParam<ArchiveFormat> {
 protected:
  void SetUp() override {
    const ArchiveFormat& f = GetParam();
    DbcBuilder table;
    for (std::int32_t id = 1; id <= f.records; ++id) {
      table.Record({Int(id), Str(NameOf(id)), Float(0.5f * id)});
    }
    archive_ = Widen(dir_.File("tables.mpq"));
    MpqBuilder()
        .Version(f.version)
        .Add("Data\\Other.bin", std::string(100, 'x'), f.storage)
        .Add("DBFilesClient\\Items.dbc", table.Build(), f.storage)
        .Write(dir_.File("tables.mpq"));
    // The header's format field counts versions from 0.
    std::ifstream in(dir_.File("tables.mpq"), std::ios::binary);
    unsigned char header[16] = {};
    in.read(reinterpret_cast<char*>(header), sizeof header);
    ASSERT_EQ(f.version - 1, header[12] | (header[13] << 8));
    ASSERT_EQ(
        0,
        db_.InitConfig(
            DefinitionBuilder()
                .Table("Items.dbc")
                .Field("Id",
                       {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
                .Field("Name",
                       {{"position", "1"}, {"type", "string"}, {"size", "4"}})
                .Field("Weight",
                       {{"position", "2"}, {"type", "float"}, {"size", "4"}})
                .WriteTo(dir_, "defs.xml")));
  }

  int Ask(DBParam_t& key, DBParam_t& result) const {
    return db_.QueryDBC(archive_, "DBFilesClient\\Items.dbc", key, result);
  }

  TempDir dir_;
  CSelvaneObject db_;
  std::wstring archive_;
};

TEST_P(ArchiveFormatTest, FindsFirstAndLastRecordByIdAndByName) {
  const std::int32_t last = GetParam().records;
  for (const std::int32_t id : {1, last}) {
    DBParam_t byId, name;
    byId.fieldIndex = 0;
    byId.intValue = id;
    name.fieldIndex = 1;
    ASSERT_EQ(0, Ask(byId, name)) << "id " << id;
    EXPECT_EQ(NameOf(id), name.strValue);

    DBParam_t byName, weight;
    byName.fieldIndex = 1;
    byName.strValue = NameOf(id);
    weight.fieldIndex = 2;
    ASSERT_EQ(0, Ask(byName, weight)) << "name of " << id;
    EXPECT_EQ(0.5f * id, weight.floatValue);
  }
}

TEST_P(ArchiveFormatTest, MissingKeyFails) {
  DBParam_t key, result;
  key.fieldIndex = 0;
  key.intValue = GetParam().records + 1;
  result.fieldIndex = 1;
  EXPECT_EQ(-1, Ask(key, result));
  EXPECT_EQ("", result.strValue);
}

// A program may hold the archive open for writing (a running client, its
// updater) while a host asks; on Windows such a writer shares writing, so
// the archive opens only when the reader shares writing too.
TEST(ArchiveSharingTest, ArchiveIsReadWhileAnotherHandleWritesIt) {
  TempDir dir;
  const std::string table =
      DbcBuilder().Record({Int(1), Str("one"), Float(1.0f)}).Build();
  const std::string path = dir.File("tables.mpq");
  MpqBuilder().Add("Items.dbc", table).Write(path);
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  CSelvaneObject db;
  ASSERT_EQ(
      0, db.InitConfig(
             DefinitionBuilder()
                 .Table("Items.dbc")
                 .Field("Id",
                        {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
                 .Field("Name",
                        {{"position", "1"}, {"type", "string"}, {"size", "4"}})
                 .WriteTo(dir, "defs.xml")));
  SharedWriter writer(path);
  ASSERT_TRUE(writer.ok());
  for (int pass = 0; pass < 2; ++pass) {
    DBParam_t key, name;
    key.fieldIndex = 0;
    key.intValue = 1;
    name.fieldIndex = 1;
    EXPECT_EQ(0, db.QueryDBC(Widen(path), "Items.dbc", key, name)) << pass;
    EXPECT_EQ("one", name.strValue) << pass;
    ASSERT_TRUE(writer.Rewrite(bytes));  // written over in place, unchanged
  }
}

std::vector<ArchiveFormat> AllFormats() {
  std::vector<ArchiveFormat> formats;
  for (const int records : {3, 3000}) {
    for (const auto storage :
         {MpqBuilder::Storage::kPlain, MpqBuilder::Storage::kZlib}) {
      for (int version = 1; version <= 4; ++version) {
        formats.push_back(ArchiveFormat{version, storage, records});
      }
    }
  }
  return formats;
}

INSTANTIATE_TEST_SUITE_P(
    Versions, ArchiveFormatTest, ::testing::ValuesIn(AllFormats()),
    [](const ::testing::TestParamInfo<ArchiveFormat>& info) {
      std::ostringstream name;
      PrintTo(info.param, &name);
      return name.str();
    });

}  // namespace
