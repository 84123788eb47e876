#ifndef SELVANE_TESTS_SUPPORT_STOREDTABLEBUILDER_H_
#define SELVANE_TESTS_SUPPORT_STOREDTABLEBUILDER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Writes an archive holding one table file stored in a chosen layout, with
// the archive library's own create, write and remove functions: format
// version, sector size, compression, encryption, sector checksums, whole
// or in sectors, and other files around it (some replaced, some removed).
struct StoredLayout {
  enum class Packing {
    kNone,
    kZlib,
    kPkware,
    kBzip2,
    kLzma,
    kImplode,  // the older single-method flag
  };

  int version = 1;                     // 1 to 4
  std::uint32_t sector_size = 0x1000;  // a power of two, 512 and up
  Packing packing = Packing::kNone;
  bool encrypted = false;
  bool fixed_key = false;  // key adjusted by the file's position
  bool checksums = false;  // sector checksums
  bool whole = false;      // one unit instead of sectors
  int other_files = 0;     // written before the table
  bool replaced = false;   // the table written twice, the first one replaced
  int removed = 0;         // other files removed after the table is written
};

// Human-readable summary, for test traces.
std::string Describe(const StoredLayout& layout);

// Creates the archive at path (replacing any file there) holding `table` at
// tablePath. False when the library refuses any step.
bool WriteStoredTable(const std::string& path, const std::string& tablePath,
                      const std::string& table, const StoredLayout& layout);

// Spoils the packed bytes of sector `sector` of the table at tablePath (a
// table stored compressed in sectors of sectorSize bytes of size
// tableSize), past its compression byte, so that it no longer unpacks.
// False when the table or the sector cannot be found.
bool SpoilSector(const std::string& path, const std::string& tablePath,
                 std::uint32_t tableSize, std::uint32_t sectorSize,
                 std::uint32_t sector);

// The archive format's cipher for its hash and block tables, both ways.
void CryptArchiveTable(std::vector<std::uint32_t>* words, std::uint32_t key,
                       bool encrypt);

// Sets dword `field` (0 position, 1 stored size, 2 size, 3 flags) of the
// version 1 block table entry whose size is `size`, in the archive bytes
// whose header starts at `header`; false when no entry has that size.
bool SetBlockEntryField(std::string* archive, std::size_t header,
                        std::uint32_t size, std::size_t field,
                        std::uint32_t value);

// The same for the archive file at path (its header at 0, as
// WriteStoredTable writes it): the size listed for the file of size `size`
// becomes `listed`, its stored bytes staying as they are.
bool SetListedSize(const std::string& path, std::uint32_t size,
                   std::uint32_t listed);

#endif  // SELVANE_TESTS_SUPPORT_STOREDTABLEBUILDER_H_
