// A damaged archive that would crash or hang the archive library inside its
// open call is answered with -1 by the reader, and the process lives on.
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "readers/DBCFileWrapper.h"
#include "tests/support/DbcBuilder.h"
#include "tests/support/MpqBuilder.h"
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

}  // namespace
