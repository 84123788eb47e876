// Writes the sample data that examples/sample-defs.xml describes:
//   OUT/sample.mpq  with "Tables\Regions.dbc" and "Colors.dbc"
//   OUT/relics.wdb
// Usage: make_samples OUT
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/DbcBuilder.h"
#include "tests/support/MpqBuilder.h"
#include "tests/support/WdbBuilder.h"

namespace {

std::string Regions() {
  DbcBuilder t;
  const std::uint8_t climates[] = {0, 3, 0xFE, 12, 0xC8, 7};  // signed bytes
  for (std::int32_t i = 0; i < 36; ++i) {
    t.Record({Int(100 + i),                              // ID
              Int(i < 6 ? 0 : 100 + i / 6),              // ParentID
              Float(12.5f * static_cast<float>(i + 1)),  // Area
              Byte(climates[i % 6]),                     // Climate
              Raw(std::string(3, '\0')),                 // Padding
              Int(1 + i % 4)});                          // Tier
  }
  return t.Build();
}

std::string Colors() {
  DbcBuilder t;
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
      t.Record(
          {Int(id++), Str(c.name + suffix), Int(c.rgb), Str(c.description)});
    }
  }
  return t.Build();
}

std::string Relics() {
  WdbBuilder wdb;
  wdb.Header("RLCW", 3, "enUS", 0, 0);
  const char* names[] = {"Amber Idol",   "Bone Flute", "Copper Crown",
                         "Dusk Lantern", "Echo Shell", "Frost Sigil"};
  const char* lore[] = {"found in a bog", "", "worn by a river king",
                        "never quite goes out"};
  for (std::int32_t i = 0; i < 30; ++i) {
    std::string name = names[i % 6];
    if (i >= 6) name += " #" + std::to_string(i / 6 + 1);
    wdb.Record(5000 + i)
        .CString(name)
        .Int(5 + 3 * i)                            // Level
        .Int(i % 5)                                // Charges (amount)...
        .Int(1000 + i * 10)                        // ...and the bytes
        .Int(1000 + i * 10 + 1)                    // it skips
        .Float(0.25f * static_cast<float>(i + 1))  // Weight
        .Byte(static_cast<std::uint8_t>(i % 2 ? 0xFD : 4))  // Rarity
        .CString(lore[i % 4]);                              // Lore
  }
  return wdb.bytes();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples OUT_FOLDER\n");
    return 2;
  }
  const std::string out = argv[1];
  try {
    MpqBuilder()
        .Add("Tables\\Regions.dbc", Regions(), MpqBuilder::Storage::kZlib)
        .Add("Colors.dbc", Colors(), MpqBuilder::Storage::kZlib)
        .Write(out + "/sample.mpq");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_samples: %s\n", e.what());
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
