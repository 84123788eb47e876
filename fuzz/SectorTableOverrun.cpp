#include "fuzz/SectorTableOverrun.h"

#include <StormLib.h>

#include <cstring>

#include "readers/ArchiveGuard.h"

namespace {

constexpr std::uint32_t kExtraTableBytes = 1024;

// The table file's entry as the archive library holds it.
struct TableEntry {
  DWORD flags = 0;
  DWORD fileSize = 0;
  ULONGLONG offset = 0;
  DWORD sectorSize = 0;
};

bool ReadEntry(const std::string& path, const char* tablePath,
               TableEntry* entry) {
  // Only what the library may open at all; the guard keeps it from crashing.
  if (!ArchiveIsSafeToOpen(path)) return false;
  HANDLE archive = nullptr;
  if (!SFileOpenArchive(
          path.c_str(), 0,
          MPQ_OPEN_READ_ONLY | MPQ_OPEN_NO_LISTFILE | MPQ_OPEN_NO_ATTRIBUTES,
          &archive)) {
    return false;
  }
  bool ok = false;
  HANDLE file = nullptr;
  if (SFileOpenFileEx(archive, tablePath, 0, &file)) {
    ok = SFileGetFileInfo(archive, SFileMpqSectorSize, &entry->sectorSize,
                          sizeof entry->sectorSize, nullptr) &&
         SFileGetFileInfo(file, SFileInfoFlags, &entry->flags,
                          sizeof entry->flags, nullptr) &&
         SFileGetFileInfo(file, SFileInfoFileSize, &entry->fileSize,
                          sizeof entry->fileSize, nullptr) &&
         SFileGetFileInfo(file, SFileInfoByteOffset, &entry->offset,
                          sizeof entry->offset, nullptr);
    SFileCloseFile(file);
  }
  SFileCloseArchive(archive);
  return ok;
}

}  // namespace

bool SectorTableOverrun::Matches(const std::string& path, const char* tablePath,
                                 const std::uint8_t* data, std::size_t size) {
  if (size < 4 || std::memcmp(data, "MPQ\x1A", 4) != 0) return false;
  TableEntry e;
  if (!ReadEntry(path, tablePath, &e)) return false;
  const DWORD unhandled =
      MPQ_FILE_SINGLE_UNIT | MPQ_FILE_ENCRYPTED | MPQ_FILE_SECTOR_CRC;
  if ((e.flags & MPQ_FILE_COMPRESS_MASK) == 0 || (e.flags & unhandled) != 0 ||
      e.sectorSize == 0 || e.offset > size - 4) {
    return false;
  }
  const std::uint64_t sectors =
      (static_cast<std::uint64_t>(e.fileSize) + e.sectorSize - 1) /
      e.sectorSize;
  const std::uint64_t expected = (sectors + 1) * 4;
  const std::uint8_t* p = data + e.offset;
  const std::uint32_t length = p[0] | (p[1] << 8) | (p[2] << 16) |
                               (static_cast<std::uint32_t>(p[3]) << 24);
  return length > expected && length <= expected + kExtraTableBytes &&
         length % 4 != 0;
}
