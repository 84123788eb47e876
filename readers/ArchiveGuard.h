#ifndef SELVANE_READERS_ARCHIVEGUARD_H_
#define SELVANE_READERS_ARCHIVEGUARD_H_

#include <cstdint>
#include <memory>
#include <string>

#include "readers/SharedFile.h"

// The archive file as both checks read it: opened on the first read and
// once only, shared as the archive library's own open shares it, and read
// at positions through a small window (the checks read a few bytes each
// from many places, mostly in increasing order and close together). Reads
// past the end fail; a file that will not open reads as empty.
class CArchiveGuardFile {
 public:
  // The path is not copied: it must outlive this object.
  explicit CArchiveGuardFile(const std::string& path) : path_(path) {}

  bool ok() { return Opened().IsOpen(); }
  std::uint64_t size() { return Opened().size(); }
  bool Read(std::uint64_t pos, std::uint32_t n, unsigned char* dst);
  // The n bytes at pos (n at most 16 KiB) in place, valid until the next
  // call; null when they cannot be read.
  const unsigned char* Bytes(std::uint64_t pos, std::uint32_t n);

 private:
  static constexpr std::uint32_t kWindow = 16 * 1024;

  CSharedFile& Opened() {
    if (!tried_) file_.Open(path_);
    tried_ = true;
    return file_;
  }

  const std::string& path_;
  bool tried_ = false;
  CSharedFile file_;
  std::unique_ptr<unsigned char[]> window_;  // allocated once, not filled
  std::uint32_t window_size_ = 0;
  std::uint64_t window_pos_ = 0;
};

// Both checks for one archive file and one table in it, their verdicts
// remembered process-wide while the file stays unchanged, so that repeated
// opens of an archive do not read it again. A file is known by a stamp taken
// before it is checked: device, inode, size, and the modification and
// status-change times. Every write to a file moves its status-change time,
// which no program can set back, so a file changed since a verdict never
// matches that verdict's stamp. Where the system offers no such time
// (Windows), every open checks. At most a bounded number of verdicts is
// kept. Both kept verdicts are looked up once, with the stamp.
class CArchiveGuards {
 public:
  // Neither string is copied: both must outlive the guards.
  CArchiveGuards(const std::string& path, const std::string& tablePath);

  // As ArchiveIsSafeToOpen and TableIsSafeToRead below, for the archive at
  // path and the table at tablePath in it (the archive library's handles).
  bool ArchiveIsSafe();
  bool TableIsSafe(void* archive, void* table);

 private:
  template <typename Check, typename Keep>
  bool Remembered(int known, Check&& check, Keep&& keep);

  CArchiveGuardFile file_;
  const std::string& table_path_;
  std::int64_t stamp_[7] = {};  // the file's state before the checks
  bool stamped_ = false;        // false: nothing is remembered
  // The verdicts kept for the stamp: -1 none, 0 unsafe, 1 safe.
  int archive_known_ = -1;
  int table_known_ = -1;
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
// block, the fixed-size headers of the extended tables and the flag index
// of each entry of the extended file table.
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
