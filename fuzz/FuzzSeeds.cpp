// Writes the seed corpora of the fuzz targets, made with the fixture
// builders:
//   OUT/definitions/  definition files
//   OUT/wdb/          query prefix + WDB file
//   OUT/dbc/          query prefix + DBC table
//   OUT/archive/      archives of every format version
// Usage: fuzz_seeds OUT
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "fuzz/Fixtures.h"
#include "fuzz/QueryPrefix.h"
#include "tests/support/DbcBuilder.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/MpqBuilder.h"
#include "tests/support/StoredTableBuilder.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class SeedFolder {
 public:
  SeedFolder(const fs::path& out, const std::string& target)
      : dir_(out / target) {
    fs::create_directories(dir_);
  }
  void Add(const std::string& bytes) {
    WriteFile(dir_ / ("seed" + std::to_string(n_++)), bytes);
  }
  const fs::path& dir() const { return dir_; }

 private:
  fs::path dir_;
  int n_ = 0;
};

struct PrefixSeed {
  std::int32_t indexes[2 * QueryPrefix::kQueries];
  std::int32_t value;
  const char* text;
};

void WriteDefinitionSeeds(const fs::path& out) {
  SeedFolder seeds(out, "definitions");
  seeds.Add(WdbDefinitionXml());
  seeds.Add(DbcDefinitionXml());
  seeds.Add(ArchiveDefinitionXml());
  // Both tables in one document, redefined in odd ways: a field element of
  // another name, an element before the first field, no type, a repeated
  // position, a position with letters, an unnamed table.
  seeds.Add(
      DefinitionBuilder("WDBFile")
          .Table(kWdbFileName)
          .RawInFields("<Comment/>")
          .Field("Id", {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
          .Field("", {{"position", "1"}, {"size", "4"}})
          .FieldElement("Other", "Name",
                        {{"position", "2"}, {"type", "cstring"}})
          .Field("Count", {{"position", "3"}, {"type", "byte"}, {"size", "1"}})
          .Field("Again",
                 {{"position", "3x"}, {"type", "integer"}, {"size", "4"}})
          .Table(kDbcTableName)
          .Note("")
          .Field("Id", {{"type", "float"}, {"position", "0"}, {"size", "4"}})
          .Field("Name",
                 {{"position", "1"}, {"type", "string"}, {"size", "-4"}})
          .UnnamedTable()
          .Field("X", {{"position", "0"}})
          .Xml());
  seeds.Add(DefinitionBuilder("DBCFile").Table("Empty.dbc").Note("none").Xml());
}

void WriteWdbSeeds(const fs::path& out) {
  SeedFolder seeds(out, "wdb");
  // Field indexes: 0 id, 1 length, 2 Name, 3 Count, 4 Price, 5 Kind,
  // 6 Weight, 7 past the definition.
  const PrefixSeed prefixes[] = {
      {{0, 2, 2, 3}, 2, "two"}, {{3, 6, 6, 5}, 20, ""},
      {{5, 0, 1, 2}, 2, "two"}, {{4, 2, 2, 4}, 200, "one"},
      {{7, 0, 0, 7}, 1, "thr"},
  };
  for (int variant = 0; variant < 3; ++variant) {
    for (const PrefixSeed& p : prefixes) {
      seeds.Add(QueryPrefix::Encode(0, p.indexes, p.value, p.text) +
                SampleWdb(variant));
    }
  }
}

void WriteDbcSeeds(const fs::path& out) {
  SeedFolder seeds(out, "dbc");
  // Field indexes: 0 Id, 1 Name, 2 Weight, 3 Kind, 4 Pad, 5 Title, 6 Flags,
  // 7 unlisted, 8 Count, 9 past the columns.
  const PrefixSeed prefixes[] = {
      {{0, 1, 1, 5}, 2, "two"},
      {{5, 2, 3, 8}, -56, ""},
      {{8, 7, 7, 6}, 1002, "one"},
      {{9, 0, 2, 4}, 0, ""},
  };
  for (int variant = 0; variant < 3; ++variant) {
    for (const PrefixSeed& p : prefixes) {
      for (std::uint8_t zlib = 0; zlib < 2; ++zlib) {
        seeds.Add(QueryPrefix::Encode(zlib, p.indexes, p.value, p.text) +
                  SampleDbc(variant));
      }
    }
  }
}

void WriteArchiveSeeds(const fs::path& out) {
  SeedFolder seeds(out, "archive");
  const fs::path scratch = seeds.dir() / "building.mpq";
  // Small tables fit one sector; 500 records take two.
  for (int version = 1; version <= 4; ++version) {
    for (const auto storage :
         {MpqBuilder::Storage::kPlain, MpqBuilder::Storage::kZlib}) {
      for (const int records : {3, 500}) {
        MpqBuilder()
            .Version(version)
            .Add(kArchiveTablePath, SampleArchiveTable(records), storage)
            .Add("Data\\Small.bin", "small", storage)
            .Write(scratch.string());
        seeds.Add(ReadFile(scratch));
      }
    }
  }
  // The table in every other layout the library writes: each packing,
  // encrypted (also with the fixed key), with sector checksums, whole, in
  // small and large sectors.
  using Packing = StoredLayout::Packing;
  int n = 0;
  for (const Packing packing :
       {Packing::kNone, Packing::kZlib, Packing::kPkware, Packing::kBzip2,
        Packing::kLzma, Packing::kImplode}) {
    for (int variant = 0; variant < 4; ++variant, ++n) {
      StoredLayout l;
      l.version = 1 + n % 4;
      if (packing == Packing::kLzma && l.version == 1) l.version = 2;
      l.packing = packing;
      l.sector_size = variant % 2 == 0 ? 0x400 : 0x1000;
      l.encrypted = variant >= 2;
      l.fixed_key = variant == 3;
      l.checksums = variant % 2 == 1;
      l.whole = variant == 2;
      l.other_files = 2;
      if (!WriteStoredTable(scratch.string(), kArchiveTablePath,
                            SampleArchiveTable(300), l)) {
        throw std::runtime_error("cannot write archive seed " + Describe(l));
      }
      seeds.Add(ReadFile(scratch));
    }
  }
  fs::remove(scratch);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT\n", argv[0]);
    return 2;
  }
  try {
    const fs::path out(argv[1]);
    WriteDefinitionSeeds(out);
    WriteWdbSeeds(out);
    WriteDbcSeeds(out);
    WriteArchiveSeeds(out);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fuzz_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
