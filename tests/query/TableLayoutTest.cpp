// Tables stored in every layout the archive library writes answer through
// the query object exactly as the library's own read of the table says;
// stored layouts the library cannot read safely are refused with -1.
#include <SelvaneLibrary/SelvaneLibrary.h>
#include <StormLib.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/DbcBuilder.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/StoredTableBuilder.h"
#include "tests/support/TempDir.h"

namespace {

const char kTablePath[] = "DBFilesClient\\Items.dbc";
constexpr std::uint32_t kRecordSize = 12;  // Id, Name, Weight

using Packing = StoredLayout::Packing;

std::string NameOf(std::int32_t id) {
  return "item" + std::to_string(id) + std::string(id % 7, '+');
}

// A table of `records` items with ids 1 up, every tenth id repeated.
std::string MakeTable(std::int32_t records) {
  DbcBuilder table;
  for (std::int32_t i = 1; i <= records; ++i) {
    const std::int32_t id = i % 10 == 0 ? i - 1 : i;
    table.Record(
        {Int(id), Str(NameOf(i)), Float(0.25f * static_cast<float>(i))});
  }
  return table.Build();
}

std::uint32_t Le32(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i)
    v |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + i]))
         << (8 * i);
  return v;
}

// The table as the archive library's own read gives it: nullopt when the
// library opens or reads it with an error.
std::optional<std::string> LibraryRead(const std::string& path) {
  HANDLE mpq = nullptr;
  if (!SFileOpenArchive(path.c_str(), 0, MPQ_OPEN_READ_ONLY, &mpq))
    return std::nullopt;
  std::optional<std::string> bytes;
  HANDLE file = nullptr;
  if (SFileOpenFileEx(mpq, kTablePath, 0, &file)) {
    const DWORD size = SFileGetFileSize(file, nullptr);
    std::string data(size, '\0');
    DWORD got = 0;
    if (size != SFILE_INVALID_SIZE &&
        (size == 0 || SFileReadFile(file, &data[0], size, &got, nullptr)) &&
        got == size)
      bytes = data;
    SFileCloseFile(file);
  }
  SFileCloseArchive(mpq);
  return bytes;
}

// Reference answers from the table's bytes: the first record whose Id (or
// Name) matches; the Name text, or the Weight bits.
struct Reference {
  std::string bytes;
  std::uint32_t count = 0, strings = 0, block = 0;

  explicit Reference(std::string b) : bytes(std::move(b)) {
    count = Le32(bytes, 4);
    block = Le32(bytes, 16);
    strings = 20 + count * kRecordSize;
  }
  std::string Text(std::uint32_t offset) const {
    return std::string(bytes.c_str() + strings + offset);
  }
  std::optional<std::string> NameOfId(std::int32_t id) const {
    for (std::uint32_t r = 0; r < count; ++r) {
      const std::size_t at = 20 + r * kRecordSize;
      if (static_cast<std::int32_t>(Le32(bytes, at)) == id)
        return Text(Le32(bytes, at + 4));
    }
    return std::nullopt;
  }
  std::optional<std::uint32_t> WeightOfName(const std::string& name) const {
    for (std::uint32_t r = 0; r < count; ++r) {
      const std::size_t at = 20 + r * kRecordSize;
      if (Text(Le32(bytes, at + 4)) == name) return Le32(bytes, at + 8);
    }
    return std::nullopt;
  }
};

class TableLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
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

  // Asks by id for the name: rc, and the name when answered.
  int NameById(const std::string& path, std::int32_t id, std::string* name) {
    DBParam_t key, result;
    key.fieldIndex = 0;
    key.intValue = id;
    result.fieldIndex = 1;
    const int rc = db_.QueryDBC(Widen(path), kTablePath, key, result);
    *name = result.strValue;
    return rc;
  }

  int WeightByName(const std::string& path, const std::string& name,
                   std::uint32_t* bits) {
    DBParam_t key, result;
    key.fieldIndex = 1;
    key.strValue = name;
    result.fieldIndex = 2;
    const int rc = db_.QueryDBC(Widen(path), kTablePath, key, result);
    std::memcpy(bits, &result.floatValue, sizeof *bits);
    return rc;
  }

  // Asks `questions` random questions of the archive and compares each
  // answer with the reference decoder on the library's own read; where
  // that read fails, every answer must be -1. True when the library read it.
  bool ExpectAnswersAsLibraryReads(const std::string& path,
                                   std::int32_t records, std::mt19937* rng,
                                   int questions) {
    const std::optional<std::string> read = LibraryRead(path);
    const std::optional<Reference> ref =
        read ? std::optional<Reference>(Reference(*read)) : std::nullopt;
    std::uniform_int_distribution<std::int32_t> pick(0, records + 2);
    for (int q = 0; q < questions; ++q) {
      const std::int32_t id = pick(*rng);
      std::string name;
      const std::optional<std::string> want =
          ref ? ref->NameOfId(id) : std::nullopt;
      EXPECT_EQ(want ? 0 : -1, NameById(path, id, &name)) << "id " << id;
      if (want) {
        EXPECT_EQ(*want, name) << "id " << id;
      }
      const std::string asked = NameOf(pick(*rng));
      std::uint32_t bits = 0;
      const std::optional<std::uint32_t> weight =
          ref ? ref->WeightOfName(asked) : std::nullopt;
      EXPECT_EQ(weight ? 0 : -1, WeightByName(path, asked, &bits)) << asked;
      if (weight) {
        EXPECT_EQ(*weight, bits) << asked;
      }
    }
    return read.has_value();
  }

  TempDir dir_;
  CSelvaneObject db_;
};

// Every packing in every archive version, with the other options drawn at
// random and the sector size stepping through 512 bytes to 1 MiB.
TEST_F(TableLayoutTest, EveryWrittenLayoutAnswersAsTheLibraryReadsIt) {
  std::mt19937 rng(20261209);
  auto pick = [&rng](int n) {
    return std::uniform_int_distribution<int>(0, n - 1)(rng);
  };
  const std::string path = dir_.File("layout.mpq");
  const Packing packings[] = {Packing::kNone,   Packing::kZlib,
                              Packing::kPkware, Packing::kBzip2,
                              Packing::kLzma,   Packing::kImplode};
  int archives = 0;
  for (int round = 0; round < 2; ++round) {
    for (const Packing packing : packings) {
      for (int version = 1; version <= 4; ++version) {
        // The version 1 path has no LZMA decoder (see the refusals below).
        if (packing == Packing::kLzma && version == 1) continue;
        StoredLayout l;
        l.version = version;
        l.packing = packing;
        l.sector_size = 512u << (archives % 12);
        l.encrypted = pick(2) == 0;
        l.fixed_key = l.encrypted && pick(2) == 0;
        l.checksums = pick(2) == 0;
        l.whole = pick(4) == 0;
        l.other_files = pick(30);
        l.replaced = pick(2) == 0;
        l.removed = pick(l.other_files + 1);
        // One record to a few hundred sectors of the smallest size.
        const std::int32_t records =
            std::uniform_int_distribution<std::int32_t>(1, 6000)(rng);
        SCOPED_TRACE(Describe(l) + ", records " + std::to_string(records));
        ASSERT_TRUE(WriteStoredTable(path, kTablePath, MakeTable(records), l));
        const bool read = ExpectAnswersAsLibraryReads(path, records, &rng, 3);
        // The library reads back everything it wrote except LZMA sectors
        // and archives of 512-byte sectors (it writes a sector shift of 0
        // and refuses that on open).
        EXPECT_EQ(packing != Packing::kLzma && l.sector_size > 512, read);
        ++archives;
      }
    }
  }
  EXPECT_EQ(46, archives);
}

// Thousands of files, the table replaced and hundreds of files removed.
TEST_F(TableLayoutTest, CrowdedArchivesAnswerAsTheLibraryReadsThem) {
  std::mt19937 rng(7);
  const std::string path = dir_.File("crowded.mpq");
  for (const int version : {1, 4}) {
    StoredLayout l;
    l.version = version;
    l.packing = Packing::kZlib;
    l.other_files = 3000;
    l.replaced = true;
    l.removed = 700;
    SCOPED_TRACE(Describe(l));
    ASSERT_TRUE(WriteStoredTable(path, kTablePath, MakeTable(2000), l));
    EXPECT_TRUE(ExpectAnswersAsLibraryReads(path, 2000, &rng, 5));
  }
}

}  // namespace
