// Stored table layouts the archive library cannot read safely are refused
// before its first read: each rule below corrupts a real archive written by
// the library, and the untouched archive is read.
#include <StormLib.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "readers/ArchiveGuard.h"
#include "readers/DBCFileWrapper.h"
#include "tests/support/DbcBuilder.h"
#include "tests/support/StoredTableBuilder.h"
#include "tests/support/TempDir.h"

namespace {

const char kTableName[] = "DBFilesClient\\Item.dbc";
using Packing = StoredLayout::Packing;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Varied text, so that zlib and bzip2 sectors hold real streams.
std::string Table(int records) {
  DbcBuilder t;
  for (int i = 0; i < records; ++i)
    t.Record({Int(i), Str("name " + std::to_string(i * 7919)),
              Float(static_cast<float>(i) / 3)});
  return t.Build();
}

struct Entry {
  std::uint64_t offset = 0;  // of the stored file, in the archive file
  std::uint32_t stored = 0;
  std::uint32_t size = 0;
};

// The table's stored bytes in an archive, edited as dwords or bytes.
struct StoredTable {
  std::string bytes;
  Entry entry;

  std::uint32_t Word(std::size_t i) const {
    std::uint32_t v = 0;
    for (std::size_t b = 0; b < 4; ++b)
      v |= static_cast<std::uint32_t>(
               static_cast<unsigned char>(bytes[entry.offset + 4 * i + b]))
           << (8 * b);
    return v;
  }
  void SetWord(std::size_t i, std::uint32_t v) {
    for (std::size_t b = 0; b < 4; ++b)
      bytes[entry.offset + 4 * i + b] = static_cast<char>(v >> (8 * b));
  }
  void SetByte(std::uint32_t at, unsigned char v) {
    bytes[entry.offset + at] = static_cast<char>(v);
  }
};

template <typename T>
bool Info(HANDLE h, SFileInfoClass what, T* v) {
  return SFileGetFileInfo(h, what, v, sizeof *v, nullptr);
}

bool FindEntry(const std::string& path, Entry* e) {
  HANDLE mpq = nullptr, file = nullptr;
  if (!SFileOpenArchive(path.c_str(), 0, MPQ_OPEN_READ_ONLY, &mpq))
    return false;
  bool ok = false;
  if (SFileOpenFileEx(mpq, kTableName, 0, &file)) {
    ULONGLONG offset = 0;
    DWORD stored = 0, size = 0;
    ok = Info(file, SFileInfoByteOffset, &offset) &&
         Info(file, SFileInfoCompressedSize, &stored) &&
         Info(file, SFileInfoFileSize, &size);
    e->offset = offset;  // the archive starts the file
    e->stored = stored;
    e->size = size;
    SFileCloseFile(file);
  }
  SFileCloseArchive(mpq);
  return ok;
}

// The guard's verdict on the table; false also where the library does not
// open the archive or the table.
bool GuardAllows(const std::string& path) {
  HANDLE mpq = nullptr, file = nullptr;
  if (!SFileOpenArchive(path.c_str(), 0, MPQ_OPEN_READ_ONLY, &mpq))
    return false;
  bool allowed = false;
  if (SFileOpenFileEx(mpq, kTableName, 0, &file)) {
    allowed = TableIsSafeToRead(path, mpq, file);
    SFileCloseFile(file);
  }
  SFileCloseArchive(mpq);
  return allowed;
}

// The library's own read of the whole table, unguarded.
bool LibraryReads(const std::string& path) {
  HANDLE mpq = nullptr, file = nullptr;
  if (!SFileOpenArchive(path.c_str(), 0, MPQ_OPEN_READ_ONLY, &mpq))
    return false;
  bool ok = false;
  if (SFileOpenFileEx(mpq, kTableName, 0, &file)) {
    std::vector<char> buf(SFileGetFileSize(file, nullptr) + 1);
    DWORD got = 0;
    ok = SFileReadFile(file, buf.data(), static_cast<DWORD>(buf.size() - 1),
                       &got, nullptr);
    SFileCloseFile(file);
  }
  SFileCloseArchive(mpq);
  return ok;
}

// For death tests: writing a core file takes seconds.
void ReadWithoutCoreFile(const std::string& path) {
  const rlimit none{0, 0};
  setrlimit(RLIMIT_CORE, &none);
  LibraryReads(path);
}

int ReaderOpens(const std::string& path, const char* table = kTableName) {
  CDBCFileWrapper reader;
  return reader.Open(Widen(path), table);
}

class StoredLayoutGuardTest : public ::testing::Test {
 protected:
  StoredTable Make(const StoredLayout& layout, int records = 2000) {
    const std::string path = dir_.File("intact.mpq");
    StoredTable t;
    EXPECT_TRUE(WriteStoredTable(path, kTableName, Table(records), layout));
    EXPECT_TRUE(FindEntry(path, &t.entry));
    t.bytes = ReadAll(path);
    // The untouched archive is read, by the guard and by the library.
    EXPECT_TRUE(GuardAllows(path)) << Describe(layout);
    EXPECT_TRUE(LibraryReads(path)) << Describe(layout);
    EXPECT_EQ(0, ReaderOpens(path)) << Describe(layout);
    return t;
  }

  // Saves the corrupted archive and expects it refused by the guard and by
  // the table reader's open; returns its path.
  std::string ExpectRefused(const StoredTable& t) {
    const std::string path = dir_.Write("damaged.mpq", t.bytes);
    EXPECT_FALSE(GuardAllows(path));
    EXPECT_EQ(-1, ReaderOpens(path));
    return path;
  }

  TempDir dir_;
};

StoredLayout Sectors(int version, Packing packing) {
  StoredLayout l;
  l.version = version;
  l.packing = packing;
  return l;
}

// Sector offset table: offsets from the start of the stored file, one per
// sector and one for the end.
TEST_F(StoredLayoutGuardTest, RefusesDamagedSectorOffsetTables) {
  const StoredTable intact = Make(Sectors(1, Packing::kZlib));
  const std::uint32_t sectors = (intact.entry.size + 0xFFF) / 0x1000;
  ASSERT_GE(sectors, 3u);
  const std::uint32_t table = (sectors + 1) * 4;
  ASSERT_EQ(table, intact.Word(0));
  const std::vector<std::pair<const char*, std::function<void(StoredTable*)>>>
      damages = {
          // Read again at that length into whole dwords: 2 bytes overrun.
          {"first entry names a longer table, not in whole dwords",
           [&](StoredTable* t) { t->SetWord(0, table + 6); }},
          {"first entry one byte short of a longer table",
           [&](StoredTable* t) { t->SetWord(0, table + 0x3FF); }},
          {"offsets decrease",
           [&](StoredTable* t) { t->SetWord(2, t->Word(1) - 1); }},
          {"a sector longer than a sector",
           [&](StoredTable* t) { t->SetWord(2, t->Word(1) + 0x1001); }},
          {"last offset past the stored file",
           [&](StoredTable* t) { t->SetWord(sectors, t->entry.stored + 1); }},
      };
  for (const auto& d : damages) {
    SCOPED_TRACE(d.first);
    StoredTable t = intact;
    d.second(&t);
    ExpectRefused(t);
  }
}

// The byte that starts a compressed sector names its methods.
TEST_F(StoredLayoutGuardTest, RefusesSectorMethodsTheLibraryCannotUnpack) {
  struct Case {
    const char* name;
    int version;
    bool whole;
    unsigned char method;
    std::uint16_t header_version;  // the header's format field, as written
  } const cases[] = {
      {"LZMA through the version 1 path (assertion)", 1, false, 0x12, 0},
      {"LZMA in a file stored whole, version 1", 1, true, 0x12, 0},
      // The library reads a header of an unknown version as version 1.
      {"LZMA under a header of version 113", 1, false, 0x12, 113},
      {"Huffman (writes out of its tree)", 1, false, 0x01, 0},
      {"Huffman then ADPCM, version 2", 2, false, 0x41, 1},
      {"zlib then sparse (sparse reads past its input)", 2, false, 0x22, 1},
      {"sparse alone, version 3", 3, false, 0x20, 2},
      {"sparse among methods, version 1", 1, false, 0x2A, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StoredLayout l = Sectors(c.version, Packing::kZlib);
    l.whole = c.whole;
    StoredTable t = Make(l);
    const std::uint32_t first = c.whole ? 0 : t.Word(0);
    t.SetByte(first, c.method);
    t.bytes[0x0C] = static_cast<char>(c.header_version & 0xFF);
    t.bytes[0x0D] = static_cast<char>(c.header_version >> 8);
    ExpectRefused(t);
  }
}

// The library's own writer makes such a file: a version 1 archive with an
// LZMA table aborts the process on the first read.
TEST_F(StoredLayoutGuardTest, RefusesLzmaTheLibraryWroteIntoVersion1) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  const std::string path = dir_.File("lzma.mpq");
  // Small: the library's LZMA compressor is slow.
  ASSERT_TRUE(WriteStoredTable(path, kTableName, Table(300),
                               Sectors(1, Packing::kLzma)));
  EXPECT_FALSE(GuardAllows(path));
  EXPECT_EQ(-1, ReaderOpens(path));
  EXPECT_DEATH(ReadWithoutCoreFile(path), "");
}

// The library's bzip2 step loops until the stream ends: a stream cut short
// never ends, and the read never returns.
TEST_F(StoredLayoutGuardTest, RefusesBzip2StreamsThatNeverEnd) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  for (const int version : {1, 2}) {
    SCOPED_TRACE(version);
    StoredTable t = Make(Sectors(version, Packing::kBzip2));
    // The first sector ends halfway through its stream.
    t.SetWord(1, t.Word(0) + (t.Word(1) - t.Word(0)) / 2);
    const std::string path = ExpectRefused(t);
    EXPECT_EXIT(
        {
          alarm(3);
          LibraryReads(path);
          std::exit(0);
        },
        ::testing::KilledBySignal(SIGALRM), "");
  }
}

// Sector checksums: a block after the last sector, read like an archive
// table into one dword per sector.
TEST_F(StoredLayoutGuardTest, RefusesChecksumBlocksLongerThanTheirTable) {
  StoredLayout l = Sectors(1, Packing::kZlib);
  l.checksums = true;
  const StoredTable intact = Make(l);
  const std::uint32_t sectors = (intact.entry.size + 0xFFF) / 0x1000;
  ASSERT_EQ((sectors + 2) * 4, intact.Word(0));
  StoredTable t = intact;
  // Its length one dword more than the checksums it holds: the read
  // overruns the buffer.
  t.SetWord(sectors + 1, t.Word(sectors) + sectors * 4 + 4);
  ExpectRefused(t);
  // Compressed with a method that writes out of bounds.
  t = intact;
  const std::uint32_t block = t.Word(sectors);
  if (t.Word(sectors + 1) - block < sectors * 4) {
    t.SetByte(block, 0x01);
    ExpectRefused(t);
  }
}

// The verdicts kept on a settled archive stay with their own table: of two
// tables in one archive, the damaged one is refused and the other opens, on
// the open that checks them and on every later one that finds them kept.
TEST_F(StoredLayoutGuardTest, KeptVerdictsStayWithTheirTable) {
  StoredLayout l = Sectors(1, Packing::kZlib);
  l.other_files = 5;  // Other\F4.bin holds 20 bytes, a header's worth
  StoredTable t = Make(l);
  t.SetWord(2, t.Word(1) - 1);  // offsets decrease
  const std::string path = dir_.Write("damaged.mpq", t.bytes);
  std::this_thread::sleep_for(std::chrono::milliseconds(3200));
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    EXPECT_EQ(0, ReaderOpens(path, "Other\\F4.bin"));
    EXPECT_EQ(-1, ReaderOpens(path));
  }
}

// Inputs the archive fuzz target found, each a fault of the library the
// guard now refuses: asked through the table reader, each gives -1 and the
// process lives on.
TEST(StoredLayoutFindingsTest, FuzzFindingsAreRefused) {
  const char* const findings[] = {
      // LZMA sector under a header of version 113, read as version 1.
      "lzma-sector-unknown-header-version.mpq",
  };
  for (const char* name : findings) {
    SCOPED_TRACE(name);
    const std::string path = std::string(SELVANE_TEST_DATA_DIR) + "/" + name;
    ASSERT_FALSE(ReadAll(path).empty());
    EXPECT_EQ(-1, ReaderOpens(path));
  }
}

}  // namespace
