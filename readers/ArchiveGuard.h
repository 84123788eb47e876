#ifndef SELVANE_READERS_ARCHIVEGUARD_H_
#define SELVANE_READERS_ARCHIVEGUARD_H_

#include <cstdint>
#include <memory>
#include <string>

#include "readers/SharedFileStream.h"

// The archive file as both checks read it: opened once, shared as the
// archive library's own open shares it, and read at positions through a
// small window (the checks read a few bytes each from many places, mostly
// in increasing order and close together). Reads past the end fail; a file
// that will not open reads as empty.
class CArchiveGuardFile {
 public:
  explicit CArchiveGuardFile(const std::string& path) { file_.Open(path); }

  bool ok() const { return file_.IsOpen(); }
  std::uint64_t size() const { return file_.size(); }
  bool Read(std::uint64_t pos, std::uint32_t n, unsigned char* dst);

 private:
  static constexpr std::uint32_t kWindow = 16 * 1024;

  CSharedFile file_;
  std::unique_ptr<unsigned char[]> window_;  // allocated once, not filled
  std::uint32_t window_size_ = 0;
  std::uint64_t window_pos_ = 0;
};

// Decides, from the archive file's header and table headers alone, whether
// the archive library (StormLib 9.22) may be asked to open it. Some damaged
// archives make that library divide by zero, fail an assertion, overrun a
// buffer or work for minutes inside its open call; for those this returns
// false and the caller must not open the file. Every other file returns
// true, also the ones the library merely refuses with an error, so a caller
// still sees those failures through the library as before.
//
// The file is located and read the way the library reads it when opened
// without the "force version 1" and "no header search" flags. No file
// contents are read for the caller: only the header, its optional user-data
// block and the fixed-size headers of the extended tables.
bool ArchiveIsSafeToOpen(CArchiveGuardFile* file);
bool ArchiveIsSafeToOpen(const std::string& path);

// Decides whether the archive library (StormLib 9.22) may read an opened
// table file (archive and file are the library's handles of the archive at
// archive_path and of the table in it). Takes what the library reports of
// the file (position, stored size, size, flags, key; the archive's sector
// size and format version) and reads, straight from the archive file, the
// parts of the stored file the library trusts when it reads: the sector
// offset table, each stored sector's first byte (which names its
// compression) and the sector checksum block. False for every stored
// layout the library would overrun a buffer on, abort on or read
// uninitialised bytes from as a success, for patch files, and when the
// library reports nothing; the caller must then not read the file. Every
// layout the library writes itself is safe.
bool TableIsSafeToRead(CArchiveGuardFile* archive_file, void* archive,
                       void* file);
bool TableIsSafeToRead(const std::string& archive_path, void* archive,
                       void* file);

#endif  // SELVANE_READERS_ARCHIVEGUARD_H_
