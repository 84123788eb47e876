// Writes seeded random tables for the Python module's tests:
//   OUT/defs.xml     definitions of every table below
//   OUT/items.wdb    RECORDS records (default 300)
//   OUT/damaged.wdb  like items.wdb, with a record whose length word is too
//                    short half-way
//   OUT/cut.wdb      like items.wdb, with the last record cut short
//   OUT/base.mpq     "Tables\Spells.dbc" (zlib) and "Tables\Auras.dbc"
//   OUT/patch.mpq    "Tables\Spells.dbc" again, other records
// Values repeat on purpose, so that lookups find several records. Text holds
// multi-byte UTF-8 and, now and then, a byte that is no UTF-8 at all.
// Usage: selvane_pytables OUT SEED [RECORDS]
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/support/DbcBuilder.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/MpqBuilder.h"
#include "tests/support/WdbBuilder.h"

namespace {

class Random {
 public:
  explicit Random(std::uint32_t seed) : engine_(seed) {}

  std::int32_t Int(std::int32_t low, std::int32_t high) {
    return std::uniform_int_distribution<std::int32_t>(low, high)(engine_);
  }
  // Finite floats, a few of them zeros of either sign.
  float Float() {
    const std::int32_t pick = Int(0, 9);
    if (pick == 0) return 0.0f;
    if (pick == 1) return -0.0f;
    return static_cast<float>(Int(-100000, 100000)) / 64.0f;
  }
  std::string Text() {
    static const char* const kPieces[] = {"Ash",
                                          "Brine",
                                          "Cinder",
                                          " ",
                                          "Dawn",
                                          "\xc3\xa9",          // e acute
                                          "\xe6\xbc\xa2",      // a CJK
                                          "\xf0\x9f\x94\xa5",  // an emoji
                                          "\xff",              // no UTF-8
                                          "\"q\"",
                                          "\\",
                                          "\t"};
    std::string text;
    const std::int32_t pieces = Int(0, 3);
    for (std::int32_t i = 0; i < pieces; ++i)
      text += kPieces[Int(0, sizeof(kPieces) / sizeof(kPieces[0]) - 1)];
    return text;
  }

 private:
  std::mt19937 engine_;
};

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string Definitions() {
  DefinitionBuilder defs("WDBFile");
  for (const char* wdb : {"items.wdb", "damaged.wdb", "cut.wdb"}) {
    defs.Table(wdb)
        .Field("Id", {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
        .Field("Length",
               {{"position", "1"}, {"type", "integer"}, {"size", "4"}})
        .Field("Name", {{"position", "2"}, {"type", "cstring"}})
        .Field("Value", {{"position", "3"}, {"type", "integer"}, {"size", "4"}})
        .Field("Weight", {{"position", "4"}, {"type", "float"}, {"size", "4"}})
        .Field("Rarity", {{"position", "5"}, {"type", "byte"}, {"size", "1"}})
        .Field("Note", {{"position", "6"}, {"type", "cstring"}});
  }
  for (const char* dbc : {"Spells.dbc", "Auras.dbc"}) {
    defs.Table(dbc)
        .Field("ID", {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
        .Field("Name", {{"position", "1"}, {"type", "string"}, {"size", "4"}})
        .Field("School",
               {{"position", "2"}, {"type", "integer"}, {"size", "4"}})
        .Field("Cost", {{"position", "3"}, {"type", "float"}, {"size", "4"}})
        .Field("Flags", {{"position", "4"}, {"type", "byte"}, {"size", "1"}})
        .Field("Description",
               {{"position", "5"}, {"type", "string"}, {"size", "4"}});
  }
  return defs.Xml();
}

void AddWdbRecord(Random& random, std::int32_t records, WdbBuilder& wdb) {
  wdb.Record(random.Int(1, records))
      .CString(random.Text())
      .Int(random.Int(-5, 40))
      .Float(random.Float())
      .Byte(static_cast<std::uint8_t>(random.Int(0, 255)))
      .CString(random.Text());
}

std::string Items(Random& random, std::int32_t records) {
  WdbBuilder wdb;
  for (std::int32_t i = 0; i < records; ++i) AddWdbRecord(random, records, wdb);
  return wdb.bytes();
}

std::string Damaged(Random& random, std::int32_t records) {
  WdbBuilder wdb;
  for (std::int32_t i = 0; i < records; ++i) {
    AddWdbRecord(random, records, wdb);
    // The next record starts inside this one's data.
    if (i == records / 2) wdb.Length(4);
  }
  return wdb.bytes();
}

// The last record's fields run past the end of the file.
std::string Cut(Random& random, std::int32_t records) {
  std::string bytes = Items(random, records);
  bytes.resize(bytes.size() - 9);
  return bytes;
}

std::string Spells(Random& random, std::int32_t records) {
  DbcBuilder dbc;
  for (std::int32_t i = 0; i < records; ++i) {
    dbc.Record({Int(random.Int(1, records)), Str(random.Text()),
                Int(random.Int(0, 6)), Float(random.Float()),
                Byte(static_cast<std::uint8_t>(random.Int(0, 255))),
                Str(random.Text())});
  }
  return dbc.Build();
}

int Run(const std::string& out, std::uint32_t seed, std::int32_t records) {
  Random random(seed);
  WriteFile(out + "/defs.xml", Definitions());
  WriteFile(out + "/items.wdb", Items(random, records));
  WriteFile(out + "/damaged.wdb", Damaged(random, records));
  WriteFile(out + "/cut.wdb", Cut(random, records));
  MpqBuilder()
      .Add("Tables\\Spells.dbc", Spells(random, records),
           MpqBuilder::Storage::kZlib)
      .Add("Tables\\Auras.dbc", Spells(random, records / 3 + 1))
      .Write(out + "/base.mpq");
  MpqBuilder()
      .Add("Tables\\Spells.dbc", Spells(random, records / 2 + 1))
      .Write(out + "/patch.mpq");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: selvane_pytables OUT SEED [RECORDS]\n");
    return 2;
  }
  try {
    const auto records =
        static_cast<std::int32_t>(argc == 4 ? std::stol(argv[3]) : 300);
    return Run(argv[1], static_cast<std::uint32_t>(std::stoul(argv[2])),
               records < 1 ? 1 : records);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "selvane_pytables: %s\n", e.what());
    return 1;
  }
}
