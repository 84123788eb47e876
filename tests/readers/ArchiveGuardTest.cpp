#include "readers/ArchiveGuard.h"

#include <StormLib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "readers/DBCFileWrapper.h"
#include "tests/support/DbcBuilder.h"
#include "tests/support/StoredTableBuilder.h"
#include "tests/support/TempDir.h"

namespace {

const char kTableName[] = "DBFilesClient\\Item.dbc";

// Header field offsets, relative to the header signature.
constexpr size_t kHeaderSize = 0x04;
constexpr size_t kArchiveSize = 0x08;
constexpr size_t kFormatVersion = 0x0C;
constexpr size_t kSectorShift = 0x0E;
constexpr size_t kHashTablePos = 0x10;
constexpr size_t kBlockTablePos = 0x14;
constexpr size_t kHashTableCount = 0x18;
constexpr size_t kBlockTableCount = 0x1C;
constexpr size_t kHiBlockTablePos = 0x20;
constexpr size_t kHetTablePos = 0x3C;
constexpr size_t kHashTableSize64 = 0x44;
constexpr size_t kHetTableSize64 = 0x5C;
constexpr size_t kBetTableSize64 = 0x64;
constexpr size_t kHeaderChecksum = 0xC0;

struct ArchiveLayout {
  int version;  // 1..4
  bool compressed;
  bool lists;  // (listfile) and (attributes)
  bool large;  // 200 more files and a multi-sector one
};

std::string LayoutName(const ArchiveLayout& s) {
  return "v" + std::to_string(s.version) + (s.compressed ? "_zlib" : "_raw") +
         (s.lists ? "_lists" : "_bare") + (s.large ? "_large" : "_small");
}

std::string Payload(size_t n, bool text, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = text ? "WDBC record text "[i % 17] : static_cast<char>(x >> 24);
  }
  return s;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool AddFile(HANDLE mpq, const std::string& name, const std::string& data,
             bool compressed, DWORD extra_flags = 0) {
  HANDLE file = nullptr;
  const DWORD flags = MPQ_FILE_REPLACEEXISTING |
                      (compressed ? MPQ_FILE_COMPRESS : 0) | extra_flags;
  if (!SFileCreateFile(mpq, name.c_str(), 0, static_cast<DWORD>(data.size()), 0,
                       flags, &file))
    return false;
  bool ok = SFileWriteFile(file, data.data(), static_cast<DWORD>(data.size()),
                           compressed ? MPQ_COMPRESSION_ZLIB : 0);
  ok = SFileFinishFile(file) && ok;
  return ok;
}

// Builds an archive with the library's own writer and returns its bytes.
std::string BuildArchive(const TempDir& dir, const ArchiveLayout& layout) {
  const std::string path = dir.File("built.mpq");
  std::remove(path.c_str());
  SFILE_CREATE_MPQ info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.dwMpqVersion = static_cast<DWORD>(layout.version - 1);
  info.dwStreamFlags = STREAM_PROVIDER_FLAT | BASE_PROVIDER_FILE;
  info.dwFileFlags1 = layout.lists ? MPQ_FILE_DEFAULT_INTERNAL : 0;
  info.dwFileFlags2 = layout.lists ? MPQ_FILE_DEFAULT_INTERNAL : 0;
  info.dwAttrFlags =
      layout.lists
          ? MPQ_ATTRIBUTE_CRC32 | MPQ_ATTRIBUTE_FILETIME | MPQ_ATTRIBUTE_MD5
          : 0;
  info.dwSectorSize = 0x1000;
  info.dwRawChunkSize = layout.version >= 4 ? 0x4000 : 0;
  info.dwMaxFileCount = layout.large ? 300 : 8;
  HANDLE mpq = nullptr;
  if (!SFileCreateArchive2(path.c_str(), &info, &mpq)) return std::string();
  bool ok =
      AddFile(mpq, kTableName, Payload(layout.large ? 70000 : 100, true, 1),
              layout.compressed);
  for (int i = 0; layout.large && ok && i < 200; ++i) {
    ok = AddFile(mpq, "Data\\F" + std::to_string(i) + ".bin",
                 Payload(100 + i * 37, i % 2 == 0, i), layout.compressed);
  }
  if (layout.large && ok)
    ok = AddFile(mpq, "Data\\Big.bin", Payload(300000, false, 7),
                 layout.compressed);
  ok = SFileCloseArchive(mpq) && ok;
  return ok ? ReadFile(path) : std::string();
}

// An archive's bytes with the position of its header, and the field access
// the corruptions below are made of.
struct Archive {
  std::string bytes;
  size_t header = 0;
  int version = 1;

  uint64_t Get(size_t field, size_t width) const {
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i)
      v |= static_cast<uint64_t>(
               static_cast<unsigned char>(bytes[header + field + i]))
           << (8 * i);
    return v;
  }
  // Writes a little-endian field. Version 4 headers carry a checksum; it is
  // cleared, which makes the library skip the check, so that the library
  // really works with the corrupted field.
  void Put(size_t field, size_t width, uint64_t v) {
    for (size_t i = 0; i < width; ++i)
      bytes[header + field + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    if (version == 4) std::memset(&bytes[header + kHeaderChecksum], 0, 16);
  }
};

using Corruption = std::function<void(Archive*)>;

void SetSectorShift(Archive* a, uint16_t shift) {
  a->Put(kSectorShift, 2, shift);
}
void SetHashTableCount(Archive* a, uint32_t n) {
  a->Put(kHashTableCount, 4, n);
}
void SetBlockTableCount(Archive* a, uint32_t n) {
  a->Put(kBlockTableCount, 4, n);
}
void MoveHashTable(Archive* a, int32_t by) {
  a->Put(kHashTablePos, 4, a->Get(kHashTablePos, 4) + by);
}
void MoveBlockTable(Archive* a, int32_t by) {
  a->Put(kBlockTablePos, 4, a->Get(kBlockTablePos, 4) + by);
}
void SetHiBlockTablePos(Archive* a, uint64_t pos) {
  a->Put(kHiBlockTablePos, 8, pos);
}
void SetStoredHashTableSize(Archive* a, uint64_t size) {
  a->Put(kHashTableSize64, 8, size);
}
void SetHetTableSize(Archive* a, uint64_t size) {
  a->Put(kHetTableSize64, 8, size);
}
void SetBetTableSize(Archive* a, uint64_t size) {
  a->Put(kBetTableSize64, 8, size);
}
void SetSignature(Archive* a, const char* four) {
  a->bytes.replace(a->header, 4, four, 4);
}
void SetFormatVersion(Archive* a, uint16_t v) { a->Put(kFormatVersion, 2, v); }
void SetHeaderSize(Archive* a, uint32_t size) { a->Put(kHeaderSize, 4, size); }
void SetArchiveSize(Archive* a, uint32_t size) {
  a->Put(kArchiveSize, 4, size);
}
void BreakChecksum(Archive* a) { a->bytes[a->header + kHeaderChecksum] ^= 1; }
// Fields of the HET table's own (unencrypted) header: 1 version, 2 data size.
void SetHetHeaderField(Archive* a, size_t index, uint32_t v) {
  const size_t at =
      a->header + static_cast<size_t>(a->Get(kHetTablePos, 8)) + 4 * index;
  for (size_t i = 0; i < 4; ++i)
    a->bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
// An extended table (its position and size fields, its key) and its
// encrypted part, decrypted, and where that starts.
struct ExtTableFields {
  size_t pos_field, size_field;
  uint32_t key;
};
constexpr ExtTableFields kHet{kHetTablePos, kHetTableSize64, 0xC3AF3770};
constexpr ExtTableFields kBet{0x34, kBetTableSize64, 0xEC83B3A3};
std::vector<uint32_t> ExtWords(const Archive& a, const ExtTableFields& t,
                               size_t* at) {
  *at = a.header + static_cast<size_t>(a.Get(t.pos_field, 8)) + 12;
  std::vector<uint32_t> words((a.Get(t.size_field, 8) - 12) / 4);
  std::memcpy(words.data(), &a.bytes[*at], words.size() * 4);
  CryptArchiveTable(&words, t.key, false);
  return words;
}
// Dword `index` of an extended table's encrypted header. BET: 0 = table
// size, 1 = entry count, 3 = entry bits, 4 = first bit of the file
// position..., 18 = flag count. HET: 1 = entry count, 6 = index bits read.
uint32_t GetExtField(const Archive& a, const ExtTableFields& t, size_t index) {
  size_t at = 0;
  return ExtWords(a, t, &at)[index];
}
void SetExtField(Archive* a, const ExtTableFields& t, size_t index,
                 uint32_t value) {
  size_t at = 0;
  std::vector<uint32_t> words = ExtWords(*a, t, &at);
  words[index] = value;
  CryptArchiveTable(&words, t.key, true);
  std::memcpy(&a->bytes[at], words.data(), words.size() * 4);
}
uint32_t GetBetField(const Archive& a, size_t index) {
  return GetExtField(a, kBet, index);
}
void SetBetField(Archive* a, size_t index, uint32_t value) {
  SetExtField(a, kBet, index, value);
}
// Sets the first byte of the hash table as the library decrypts it: for a
// table stored smaller than its size, the byte that names its compression.
void SetHashTableFirstByte(Archive* a, uint8_t value) {
  const uint32_t kHashKey = 0xC3AF3770;
  const size_t at = a->header + static_cast<size_t>(a->Get(kHashTablePos, 4));
  std::vector<uint32_t> word(1);
  std::memcpy(word.data(), &a->bytes[at], 4);
  CryptArchiveTable(&word, kHashKey, false);
  word[0] = (word[0] & ~0xFFu) | value;
  CryptArchiveTable(&word, kHashKey, true);
  std::memcpy(&a->bytes[at], word.data(), 4);
}
// Puts `junk` 512-byte blocks before the archive; the header search finds
// it there and all its offsets stay relative to the header.
void PrependJunk(Archive* a, size_t blocks) {
  a->bytes.insert(0, std::string(blocks * 0x200, 'J'));
  a->header += blocks * 0x200;
}
// Puts a user-data block in front that points the search at the header.
void PrependUserData(Archive* a, uint32_t header_offset) {
  std::string block(header_offset, '\0');
  const uint32_t fields[4] = {0x1B51504D, 0x100, header_offset, 0x10};
  for (size_t f = 0; f < 4; ++f)
    for (size_t i = 0; i < 4; ++i)
      block[4 * f + i] = static_cast<char>((fields[f] >> (8 * i)) & 0xFF);
  a->bytes.insert(0, block);
  a->header += header_offset;
}
void CutFileAt(Archive* a, size_t header_bytes) {
  a->bytes.resize(a->header + header_bytes);
}

// Opens the archive and reads the table through the library the way the
// table reader does; the verdict is whatever the library says.
bool StormOpensAndReads(const std::string& path) {
  HANDLE mpq = nullptr;
  if (!SFileOpenArchive(path.c_str(), 0, MPQ_OPEN_READ_ONLY, &mpq))
    return false;
  bool ok = false;
  HANDLE file = nullptr;
  if (SFileOpenFileEx(mpq, kTableName, 0, &file)) {
    const DWORD size = SFileGetFileSize(file, nullptr);
    if (size != SFILE_INVALID_SIZE) {
      std::vector<char> buf(size + 1);
      DWORD got = 0;
      ok = SFileReadFile(file, buf.data(), size, &got, nullptr) && got == size;
    }
    SFileCloseFile(file);
  }
  SFileCloseArchive(mpq);
  return ok;
}

struct CorruptionCase {
  const char* name;
  ArchiveLayout layout;
  Corruption corrupt;
  bool safe;     // the guard's expected verdict
  bool dies;     // refused, and the library reliably kills the process
  bool run_lib;  // safe, and cheap enough to hand to the library here
};

class ArchiveGuardTest : public ::testing::Test {
 protected:
  Archive Make(const ArchiveLayout& layout) {
    Archive a;
    a.bytes = BuildArchive(dir_, layout);
    a.version = layout.version;
    return a;
  }
  std::string Save(const Archive& a) { return dir_.Write("case.mpq", a.bytes); }
  void RunCases(const std::vector<CorruptionCase>& cases);

  TempDir dir_;
};

std::vector<ArchiveLayout> AllWellFormedLayouts() {
  std::vector<ArchiveLayout> layouts;
  for (int version = 1; version <= 4; ++version)
    for (bool compressed : {false, true})
      for (bool lists : {false, true})
        for (bool large : {false, true})
          layouts.push_back({version, compressed, lists, large});
  return layouts;
}

TEST_F(ArchiveGuardTest, AcceptsEveryArchiveTheLibraryWrites) {
  for (const ArchiveLayout& layout : AllWellFormedLayouts()) {
    SCOPED_TRACE(LayoutName(layout));
    Archive a = Make(layout);
    ASSERT_FALSE(a.bytes.empty());
    for (int placement = 0; placement < 3; ++placement) {
      Archive placed = a;
      if (placement == 1) PrependJunk(&placed, 2);
      if (placement == 2) PrependUserData(&placed, 0x200);
      SCOPED_TRACE(placement);
      const std::string path = Save(placed);
      ASSERT_TRUE(StormOpensAndReads(path));
      EXPECT_TRUE(ArchiveIsSafeToOpen(path));
    }
  }
}

TEST_F(ArchiveGuardTest, AcceptsFilesTheLibraryRefusesByItself) {
  EXPECT_TRUE(ArchiveIsSafeToOpen(dir_.File("missing.mpq")));
  EXPECT_TRUE(ArchiveIsSafeToOpen(dir_.Write("empty.mpq", "")));
  EXPECT_TRUE(ArchiveIsSafeToOpen(dir_.Write("short.mpq", "MPQ\x1A")));
  EXPECT_TRUE(
      ArchiveIsSafeToOpen(dir_.Write("text.mpq", std::string(5000, 'x'))));
  EXPECT_TRUE(ArchiveIsSafeToOpen(dir_.path()));
}

void ArchiveGuardTest::RunCases(const std::vector<CorruptionCase>& cases) {
  for (const CorruptionCase& c : cases) {
    SCOPED_TRACE(c.name);
    Archive a = Make(c.layout);
    ASSERT_FALSE(a.bytes.empty());
    c.corrupt(&a);
    const std::string path = Save(a);
    EXPECT_EQ(c.safe, ArchiveIsSafeToOpen(path));
    if (c.run_lib) StormOpensAndReads(path);  // must simply return
    if (c.dies) {
      EXPECT_DEATH(StormOpensAndReads(path), "");
    }
  }
}

// Inputs the library survives (opening them or refusing them): the guard
// lets them through, and the library is run on each to show it survives.
std::vector<CorruptionCase> SurvivableCases() {
  const ArchiveLayout v1{1, false, false, false}, v2{2, false, false, false};
  const ArchiveLayout v3{3, false, true, false}, v4{4, false, true, false};
  const ArchiveLayout v1z{1, true, true, true};
  return {
      {"v1 hash table running far past the end (cut by the library)", v1,
       [](Archive* a) { SetHashTableCount(a, 0x100000); }, true, false, true},
      {"v1 block table cut at the end", v1z,
       [](Archive* a) {
         SetBlockTableCount(
             a, static_cast<uint32_t>(a->Get(kBlockTableCount, 4) + 16));
       },
       true, false, true},
      {"v1 archive size garbage", v1,
       [](Archive* a) { SetArchiveSize(a, 0xDEADBEEF); }, true, false, true},
      {"v2 header size wrong: read as version 1", v2,
       [](Archive* a) { SetHeaderSize(a, 0x30); }, true, false, true},
      {"sector shift 0", v1, [](Archive* a) { SetSectorShift(a, 0); }, true,
       false, true},
      {"sector shift 22, the largest usable", v2,
       [](Archive* a) { SetSectorShift(a, 22); }, true, false, true},
      {"v1 hash table past the file end", v1,
       [](Archive* a) { MoveHashTable(a, 0x100000); }, true, false, true},
      {"v4 checksum wrong", v4, BreakChecksum, true, false, true},
      {"v4 BET shorter than its signature, no signature match", v4,
       [](Archive* a) {
         SetBetTableSize(a, 3);
         a->bytes[a->header + a->Get(0x34, 8)] = 'X';
       },
       true, false, true},
      {"v4 hash table stored smaller: unpacked as zlib, which fails", v4,
       [](Archive* a) {
         SetStoredHashTableSize(a, 8 * a->Get(kHashTableCount, 4));
         SetHashTableFirstByte(a, 0x02);
       },
       true, false, true},
      {"v3 unknown format version read as version 1", v3,
       [](Archive* a) { SetFormatVersion(a, 7); }, true, false, true},
      {"v1 hash table of 2^20 entries past the end", v1,
       [](Archive* a) { SetHashTableCount(a, 1u << 20); }, true, false, false},
  };
}

// Inputs found by mutating headers of library-made archives (and the two
// measured before): the library crashes, corrupts its heap or hangs.
std::vector<CorruptionCase> DangerousCases() {
  const ArchiveLayout v1{1, false, false, false}, v2{2, false, false, false};
  const ArchiveLayout v3{3, false, true, false}, v4{4, false, true, false};
  const ArchiveLayout v2l{2, false, false, true}, v3l{3, false, true, true};
  return {
      // Division by a zero sector size on the first read.
      {"v1 sector shift 23", v1, [](Archive* a) { SetSectorShift(a, 23); },
       false, true, false},
      {"v2 sector shift 31", v2, [](Archive* a) { SetSectorShift(a, 31); },
       false, true, false},
      {"v4 sector shift 55 (23 after wrapping)", v4,
       [](Archive* a) { SetSectorShift(a, 55); }, false, true, false},
      {"v1 sector shift 23 behind a user-data block", v1,
       [](Archive* a) {
         PrependUserData(a, 0x400);
         SetSectorShift(a, 23);
       },
       false, true, false},
      // Gigabytes allocated and walked for nothing.
      {"v1 hash table count 0x7FFFFFFF", v1,
       [](Archive* a) { SetHashTableCount(a, 0x7FFFFFFF); }, false, false,
       false},
      {"v1 block table count 0x0FFFFFFF", v1,
       [](Archive* a) { SetBlockTableCount(a, 0x0FFFFFFF); }, false, false,
       false},
      // Version 2 size assertions.
      {"v2 gap after the block table", v2,
       [](Archive* a) { MoveBlockTable(a, -16); }, false, true, false},
      {"v2 hi-block table before the block table", v2,
       [](Archive* a) { SetHiBlockTablePos(a, 0x20); }, false, true, false},
      {"v2 hi-block table of the wrong size", v2,
       [](Archive* a) {
         SetHiBlockTablePos(
             a, a->Get(kBlockTablePos, 4) + 16 * a->Get(kBlockTableCount, 4));
       },
       false, true, false},
      // More bytes read into a classic table than it has room for.
      {"v2 hash table moved up: stored size exceeds the table", v2l,
       [](Archive* a) { MoveHashTable(a, -0x40); }, false, false, false},
      {"v3 block table moved down: hash gap exceeds the table", v3l,
       [](Archive* a) { MoveBlockTable(a, 13); }, false, false, false},
      {"v4 stored hash size 16 bytes over the table", v4,
       [](Archive* a) {
         SetStoredHashTableSize(a, 16 * a->Get(kHashTableCount, 4) + 16);
       },
       false, false, false},
      // HET/BET loader assertions and overruns.
      {"v4 block count disagreeing with the BET table", v4,
       [](Archive* a) {
         SetBlockTableCount(
             a, static_cast<uint32_t>(a->Get(kBlockTableCount, 4) + 1));
       },
       false, true, false},
      {"v4 hash table smaller than the BET table", v4,
       [](Archive* a) {
         SetHashTableCount(a, 2);
         SetStoredHashTableSize(a, 32);
       },
       false, true, false},
      {"v4 HET size below its header: decryption length wraps", v4,
       [](Archive* a) { SetHetTableSize(a, 8); }, false, true, false},
      {"v4 BET size below its signature", v4,
       [](Archive* a) { SetBetTableSize(a, 2); }, false, false, false},
      {"v3 HET table version 2", v3,
       [](Archive* a) { SetHetHeaderField(a, 1, 2); }, false, true, false},
      {"v4 HET data size equal to its stored size: copied past its buffer", v4,
       [](Archive* a) {
         SetHetHeaderField(a, 2,
                           static_cast<uint32_t>(a->Get(kHetTableSize64, 8)));
       },
       false, false, false},
      {"v4 BET file position field far past its entry", v4,
       [](Archive* a) { SetBetField(a, 4, 0x40000000); }, false, true, false},
      {"v4 BET flag array longer than the table", v4,
       [](Archive* a) { SetBetField(a, 18, 0x100000); }, false, false, false},
      // Its byte size wraps to the table's own at 32 bits, and the library
      // allocates the full 4 GiB more.
      {"v4 BET flag count 2^30 over the table's", v4,
       [](Archive* a) { SetBetField(a, 18, GetBetField(*a, 18) + 0x40000000); },
       false, false, false},
      // Each entry's flag index widened over its file position: the flags
      // are looked up far past their array.
      {"v4 BET flag index past the flag array", v4,
       [](Archive* a) {
         SetBetField(a, 7, 0);
         SetBetField(a, 12, std::min<uint32_t>(32, GetBetField(*a, 3)));
       },
       false, false, false},
      // With the BET table left out, a look-up through the HET table reads
      // this many bits into a dword on the stack.
      {"v4 HET index width 2^28, BET table not loading", v4,
       [](Archive* a) {
         SetExtField(a, kHet, 6, 0x10000003);
         a->bytes[a->header + a->Get(0x34, 8)] = 'X';
       },
       false, false, false},
      // The Huffman decoder writes out of its tree's bounds on damaged input.
      {"v4 hash table stored smaller: unpacked as Huffman", v4,
       [](Archive* a) {
         SetStoredHashTableSize(a, 8 * a->Get(kHashTableCount, 4));
         SetHashTableFirstByte(a, 0x01);
       },
       false, false, false},
      {"v4 hash table stored in 0 bytes: its method byte read past them", v4,
       [](Archive* a) { SetStoredHashTableSize(a, 0); }, false, false, false},
      // Headers the library would read partly from stale buffer bytes, or
      // take for another archive format.
      {"v2 header cut by the end of the file", v2,
       [](Archive* a) {
         PrependJunk(a, 1);
         CutFileAt(a, 0x24);
       },
       false, false, false},
      {"another format's signature", v1,
       [](Archive* a) { SetSignature(a, "MPK\x1A"); }, false, false, false},
  };
}

TEST_F(ArchiveGuardTest, LetsSurvivableDamageThrough) {
  RunCases(SurvivableCases());
}

TEST_F(ArchiveGuardTest, RefusesWhatCrashesOrHangsTheLibrary) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  RunCases(DangerousCases());
}

// Rewriting an unused BET field leaves a table the library still reads, so
// the BET corruptions above change only the field they name.
TEST_F(ArchiveGuardTest, BetFieldEditKeepsTheTableReadable) {
  Archive a = Make({4, false, true, false});
  SetBetField(&a, 2, 0x12345678);
  const std::string path = Save(a);
  EXPECT_TRUE(StormOpensAndReads(path));
  EXPECT_TRUE(ArchiveIsSafeToOpen(path));
}

// The entry bound for tables the file cannot hold sits at 2^20 entries.
TEST_F(ArchiveGuardTest, BoundsTableEntriesTheFileCannotHold) {
  Archive a = Make({1, false, false, false});
  SetHashTableCount(&a, (1u << 20) + 1);
  EXPECT_FALSE(ArchiveIsSafeToOpen(Save(a)));
  SetHashTableCount(&a, 1u << 20);
  EXPECT_TRUE(ArchiveIsSafeToOpen(Save(a)));
  SetBlockTableCount(&a, (1u << 20) + 1);
  EXPECT_FALSE(ArchiveIsSafeToOpen(Save(a)));
}

// A version 1 archive holding the table stored whole: one unit, with
// `flags` (no compression: stored bytes are the file's bytes).
std::string BuildWholeTableArchive(const TempDir& dir, const std::string& data,
                                   DWORD flags) {
  const std::string path = dir.File("whole.mpq");
  std::remove(path.c_str());
  HANDLE mpq = nullptr;
  if (!SFileCreateArchive(path.c_str(), MPQ_CREATE_ARCHIVE_V1, 8, &mpq))
    return std::string();
  const bool ok = AddFile(mpq, kTableName, data, false, flags);
  return SFileCloseArchive(mpq) && ok ? ReadFile(path) : std::string();
}

// Asks the guard about the table as the library opens it; nullopt when the
// library does not open the archive or the table.
std::optional<bool> TableVerdict(const std::string& path) {
  HANDLE mpq = nullptr;
  if (!SFileOpenArchive(path.c_str(), 0, MPQ_OPEN_READ_ONLY, &mpq))
    return std::nullopt;
  std::optional<bool> verdict;
  HANDLE file = nullptr;
  if (SFileOpenFileEx(mpq, kTableName, 0, &file)) {
    verdict = TableIsSafeToRead(path, mpq, file);
    SFileCloseFile(file);
  }
  SFileCloseArchive(mpq);
  return verdict;
}

// The library reads a file stored whole and uncompressed with one read of
// its stored size into a buffer of its size; a larger stored size overruns
// it (seen under the address sanitizer), a smaller one reads uninitialised
// bytes as a success. Patch files are refused whole.
TEST_F(ArchiveGuardTest, RefusesTablesWhoseReadOverrunsTheLibrarysBuffer) {
  DbcBuilder table;
  for (int i = 0; i < 20; ++i)
    table.Record({Int(i), Str("n" + std::to_string(i))});
  const std::string data = table.Build();
  const auto size = static_cast<uint32_t>(data.size());
  struct Case {
    const char* name;
    DWORD flags;   // as the table is written
    size_t field;  // block entry field then changed, 4 for none
    uint32_t value;
    bool safe;
    bool readable;  // the library then reads the whole table
  } const cases[] = {
      {"whole, as written", MPQ_FILE_SINGLE_UNIT, 4, 0, true, true},
      {"in sectors, as written", 0, 4, 0, true, true},
      {"whole, stored size one byte more", MPQ_FILE_SINGLE_UNIT, 1, size + 1,
       false, false},
      {"whole, stored size 3000 more", MPQ_FILE_SINGLE_UNIT, 1, size + 3000,
       false, false},
      {"whole, stored size smaller", MPQ_FILE_SINGLE_UNIT, 1, size - 1, false,
       false},
      {"in sectors, stored size 3000 more", 0, 1, size + 3000, true, true},
      {"whole, marked as a patch", MPQ_FILE_SINGLE_UNIT, 3,
       MPQ_FILE_EXISTS | MPQ_FILE_SINGLE_UNIT | MPQ_FILE_PATCH_FILE, false,
       false},
      {"in sectors, marked as a patch", 0, 3,
       MPQ_FILE_EXISTS | MPQ_FILE_PATCH_FILE, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Archive a;
    a.bytes = BuildWholeTableArchive(dir_, data, c.flags);
    ASSERT_FALSE(a.bytes.empty());
    if (c.field < 4) {
      ASSERT_TRUE(
          SetBlockEntryField(&a.bytes, a.header, size, c.field, c.value));
    }
    const std::string path = Save(a);
    ASSERT_TRUE(ArchiveIsSafeToOpen(path));
    EXPECT_EQ(std::optional<bool>(c.safe), TableVerdict(path));
    // Only what the guard lets through is handed to the library's read.
    if (c.safe) {
      EXPECT_EQ(c.readable, StormOpensAndReads(path));
    }
    // The table reader asks the guard before its first read.
    CDBCFileWrapper reader;
    EXPECT_EQ(c.safe && c.readable ? 0 : -1,
              reader.Open(Widen(path), kTableName));
  }
}

}  // namespace
