// Writes the sample data that examples/sample-defs.xml describes:
//   OUT/sample.mpq  with "Tables\Regions.dbc" and "Colors.dbc"
//   OUT/relics.wdb
// Usage: make_samples OUT
#include <StormLib.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/Bytes.h"

namespace {

struct DbcTable {
  DbcTable(std::string n, std::int32_t fields, std::int32_t size)
      : name(std::move(n)), fieldCount(fields), recordSize(size) {}

  std::string name;
  std::int32_t fieldCount = 0;
  std::int32_t recordSize = 0;
  std::string records;
  std::string strings = std::string(1, '\0');
  std::int32_t count = 0;

  // Adds text to the string block; returns its offset.
  std::int32_t AddString(const std::string& text) {
    const auto at = static_cast<std::int32_t>(strings.size());
    strings += text;
    strings.push_back('\0');
    return at;
  }
  std::string Bytes() const {
    std::string out = "WDBC";
    PutInt32(out, count);
    PutInt32(out, fieldCount);
    PutInt32(out, recordSize);
    PutInt32(out, static_cast<std::int32_t>(strings.size()));
    return out + records + strings;
  }
};

DbcTable Regions() {
  DbcTable t("Tables\\Regions.dbc", 6, 20);
  const char climates[] = {0, 3, -2, 12, -56, 7};
  for (std::int32_t i = 0; i < 36; ++i) {
    PutInt32(t.records, 100 + i);                            // ID
    PutInt32(t.records, i < 6 ? 0 : 100 + i / 6);            // ParentID
    PutFloat(t.records, 12.5f * static_cast<float>(i + 1));  // Area
    t.records.push_back(climates[i % 6]);  // Climate (signed byte)
    t.records.append(3, '\0');             // Padding
    PutInt32(t.records, 1 + i % 4);        // Tier
    ++t.count;
  }
  return t;
}

DbcTable Colors() {
  DbcTable t("Colors.dbc", 4, 16);
  const struct {
    const char* name;
    std::int32_t rgb;
    const char* description;
  } colors[] = {
      {"Ember", 0xE25822, "glowing coal"},  {"Moss", 0x8A9A5B, "forest floor"},
      {"Slate", 0x708090, "rainy roof"},    {"Saffron", 0xF4C430, "spice"},
      {"Teal", 0x008080, "deep lagoon"},    {"Rust", 0xB7410E, "old iron"},
      {"Ivory", 0xFFFFF0, "polished tusk"}, {"Plum", 0x8E4585, "ripe fruit"},
  };
  std::int32_t id = 1;
  for (int round = 0; round < 4; ++round) {
    for (const auto& c : colors) {
      const std::string suffix =
          round == 0 ? "" : " " + std::to_string(round + 1);
      PutInt32(t.records, id++);
      PutInt32(t.records, t.AddString(c.name + suffix));
      PutInt32(t.records, c.rgb);
      PutInt32(t.records, t.AddString(c.description));
      ++t.count;
    }
  }
  return t;
}

std::string Relics() {
  std::string out = "RLCW";
  PutInt32(out, 3);
  out += "enUS";
  PutInt32(out, 0);
  PutInt32(out, 0);
  const char* names[] = {"Amber Idol",   "Bone Flute", "Copper Crown",
                         "Dusk Lantern", "Echo Shell", "Frost Sigil"};
  const char* lore[] = {"found in a bog", "", "worn by a river king",
                        "never quite goes out"};
  for (std::int32_t i = 0; i < 30; ++i) {
    std::string data = names[i % 6];
    if (i >= 6) data += " #" + std::to_string(i / 6 + 1);
    data.push_back('\0');
    PutInt32(data, 5 + 3 * i);  // Level
    PutInt32(data, i % 5);      // Charges (amount)...
    for (int k = 0; k < 2; ++k)
      PutInt32(data, 1000 + i * 10 + k);                // ...skipped
    PutFloat(data, 0.25f * static_cast<float>(i + 1));  // Weight
    data.push_back(static_cast<char>(i % 2 ? -3 : 4));  // Rarity
    data += lore[i % 4];
    data.push_back('\0');
    PutInt32(out, 5000 + i);
    PutInt32(out, static_cast<std::int32_t>(data.size()));
    out += data;
  }
  return out;
}

bool WriteArchive(const std::string& path,
                  const std::vector<DbcTable>& tables) {
  std::remove(path.c_str());
  HANDLE mpq = nullptr;
  if (!SFileCreateArchive(path.c_str(), MPQ_CREATE_ARCHIVE_V1, 16, &mpq))
    return false;
  bool ok = true;
  for (const auto& t : tables) {
    const std::string bytes = t.Bytes();
    HANDLE file = nullptr;
    ok = ok &&
         SFileCreateFile(mpq, t.name.c_str(), 0,
                         static_cast<DWORD>(bytes.size()), 0, MPQ_FILE_COMPRESS,
                         &file) &&
         SFileWriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                        MPQ_COMPRESSION_ZLIB) &&
         SFileFinishFile(file);
  }
  SFileCloseArchive(mpq);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples OUT_FOLDER\n");
    return 2;
  }
  const std::string out = argv[1];
  if (!WriteArchive(out + "/sample.mpq", {Regions(), Colors()})) {
    std::fprintf(stderr, "make_samples: cannot write %s/sample.mpq\n",
                 out.c_str());
    return 1;
  }
  const std::string relics = Relics();
  std::ofstream wdb(out + "/relics.wdb", std::ios::binary | std::ios::trunc);
  wdb.write(relics.data(), static_cast<std::streamsize>(relics.size()));
  if (!wdb) {
    std::fprintf(stderr, "make_samples: cannot write %s/relics.wdb\n",
                 out.c_str());
    return 1;
  }
  std::printf("wrote %s/sample.mpq and %s/relics.wdb\n", out.c_str(),
              out.c_str());
  return 0;
}
