// A damaged archive that would crash or hang the archive library inside its
// open call is answered with -1 by the reader, and the process lives on; a
// table with a damaged sector answers as reading it field by field would.
#include <StormLib.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "readers/DBCFileWrapper.h"
#include "tests/support/DbcBuilder.h"
#include "tests/support/MpqBuilder.h"
#include "tests/support/StoredTableBuilder.h"
#include "tests/support/TempDir.h"

namespace {

// Offset of the sector-size shift in an archive header at offset 0.
constexpr std::streamoff kSectorShiftOffset = 14;

void PokeByte(const std::string& path, std::streamoff at, char value) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(at);
  f.put(value);
  ASSERT_TRUE(f.good());
}

int Lookup(const std::string& archive) {
  selvane::FieldMap fields;
  fields[0] = selvane::FieldAttr_t{"ID", 0, 0, 4, 0};
  CDBCFileWrapper reader;
  if (reader.Open(Widen(archive), "Items.dbc") != 0) return -1;
  if (reader.SetDefinition(&fields) != 0) return -1;
  DBParam_t key, result;
  key.fieldIndex = 0;
  key.intValue = 7;
  result.fieldIndex = 0;
  return reader.Query(key, result);
}

TEST(DamagedArchiveTest, SectorShiftThatWouldDivideByZeroIsRefused) {
  TempDir dir;
  const std::string path = dir.File("a.mpq");
  MpqBuilder()
      .Add("Items.dbc", DbcBuilder().Record({Int(7)}).Build())
      .Write(path);
  ASSERT_EQ(Lookup(path), 0);  // the intact archive answers
  PokeByte(path, kSectorShiftOffset, 23);
  EXPECT_EQ(Lookup(path), -1);
  PokeByte(path, kSectorShiftOffset, 31);
  EXPECT_EQ(Lookup(path), -1);
}

// The guards' verdict on a settled archive is kept, and dropped once the
// file changes in place, even to the same size.
TEST(DamagedArchiveTest, KeptVerdictEndsWhenTheFileChanges) {
  TempDir dir;
  const std::string path = dir.File("a.mpq");
  MpqBuilder()
      .Add("Items.dbc", DbcBuilder().Record({Int(7)}).Build())
      .Write(path);
  const auto settle = std::chrono::milliseconds(3200);
  std::this_thread::sleep_for(settle);
  ASSERT_EQ(Lookup(path), 0);  // checked, and the verdict kept
  PokeByte(path, kSectorShiftOffset, 23);
  std::this_thread::sleep_for(settle);
  EXPECT_EQ(Lookup(path), -1);  // a kept "safe" would crash the library
}

// The table's answer as the archive library gives it when every field is
// read on its own: the first record whose key reads and matches, its text
// read byte by byte from the string block; nullopt-like -1 when a read the
// scan needs fails first.
struct FieldByField {
  int status = -1;
  std::string text;
};

constexpr DWORD kReadFlags =
    MPQ_OPEN_READ_ONLY | MPQ_OPEN_NO_LISTFILE | MPQ_OPEN_NO_ATTRIBUTES;

bool ReadAt(HANDLE file, std::uint32_t pos, char* dst, std::uint32_t n) {
  DWORD got = 0;
  SFileSetFilePointer(file, static_cast<LONG>(pos), nullptr, FILE_BEGIN);
  return SFileReadFile(file, dst, n, &got, nullptr) && got == n;
}

FieldByField ReadFieldByField(const std::string& archive, std::int32_t key,
                              std::int32_t records, std::int32_t stringBlock) {
  FieldByField answer;
  HANDLE mpq = nullptr, file = nullptr;
  if (!SFileOpenArchive(archive.c_str(), 0, kReadFlags, &mpq)) return answer;
  if (SFileOpenFileEx(mpq, "Items.dbc", 0, &file)) {
    char header[20];
    bool readable = ReadAt(file, 0, header, 20);
    for (std::int32_t r = 0; readable && r < records; ++r) {
      char cell[4];
      readable = ReadAt(file, 20 + 8 * r, cell, 4);
      std::int32_t id = 0;
      std::memcpy(&id, cell, 4);
      if (!readable || id != key) continue;
      std::int32_t offset = 0;
      if (!ReadAt(file, 24 + 8 * r, cell, 4)) break;
      std::memcpy(&offset, cell, 4);
      for (std::uint32_t at = stringBlock + offset;; ++at) {
        char c = 0;
        if (!ReadAt(file, at, &c, 1)) break;
        if (c == '\0') {
          answer.status = 0;
          break;
        }
        answer.text += c;
      }
      break;
    }
    SFileCloseFile(file);
  }
  SFileCloseArchive(mpq);
  return answer;
}

TEST(DamagedArchiveTest, DamagedSectorFailsOnlyTheReadsThatNeedIt) {
  TempDir dir;
  const std::string path = dir.File("a.mpq");
  std::mt19937 rng(20261209);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    DbcBuilder table;
    const std::int32_t records = 200 + static_cast<std::int32_t>(rng() % 800);
    for (std::int32_t r = 0; r < records; ++r)
      table.Record({Int(r), Str("name " + std::to_string(r * 31))});
    const std::string bytes = table.Build();
    StoredLayout layout;
    layout.packing = StoredLayout::Packing::kZlib;
    layout.sector_size = 1024u << (rng() % 3);
    ASSERT_TRUE(WriteStoredTable(path, "Items.dbc", bytes, layout));
    const std::uint32_t sectors =
        static_cast<std::uint32_t>((bytes.size() - 1) / layout.sector_size + 1);
    const std::uint32_t bad = 1 + rng() % (sectors - 1);
    ASSERT_TRUE(SpoilSector(path, "Items.dbc",
                            static_cast<std::uint32_t>(bytes.size()),
                            layout.sector_size, bad))
        << Describe(layout);

    const auto block = static_cast<std::int32_t>(table.StringBlockStart());
    selvane::FieldMap fields;
    fields[0] = selvane::FieldAttr_t{"ID", 0, selvane::kTypeInteger, 4, 0};
    fields[1] = selvane::FieldAttr_t{"Name", 1, selvane::kTypeString, 4, 0};
    for (int ask = 0; ask < 8; ++ask) {
      const std::int32_t key = static_cast<std::int32_t>(rng() % records);
      SCOPED_TRACE(key);
      const FieldByField want = ReadFieldByField(path, key, records, block);
      CDBCFileWrapper reader;
      DBParam_t k, result;
      k.fieldIndex = 0;
      k.intValue = key;
      result.fieldIndex = 1;
      const int status = reader.Open(Widen(path), "Items.dbc") != 0 ||
                                 reader.SetDefinition(&fields) != 0
                             ? -1
                             : reader.Query(k, result);
      EXPECT_EQ(status, want.status);
      if (status == 0 && want.status == 0) {
        EXPECT_EQ(result.strValue, want.text);
      }
    }
  }
}

}  // namespace
