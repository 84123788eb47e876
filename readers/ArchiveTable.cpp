#include "readers/ArchiveTable.h"

#include <StormLib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>
#include <new>

#include "readers/ArchiveGuard.h"

namespace {

// Read-only: an archive without write permission still opens, and nothing
// asks for write access. Lookups by name need neither the listfile nor the
// attributes, and loading the listfile costs time and touches global state.
// Write sharing: on Windows the archive also opens while another program
// holds it open for writing (a running client or its updater), as WDB files
// do; what such a writer leaves half-done is damaged input like any other.
constexpr DWORD kOpenFlags = MPQ_OPEN_READ_ONLY | MPQ_OPEN_NO_LISTFILE |
                             MPQ_OPEN_NO_ATTRIBUTES | STREAM_FLAG_WRITE_SHARE;

// The archive library builds a process-wide table on its first archive
// open, and two first opens at once race on it. Opens are serialised until
// one has succeeded; after that they run side by side without a lock.
std::atomic<bool> g_archives_ready{false};
std::mutex g_first_open;

bool OpenArchive(const std::string& path, HANDLE* archive) {
  if (g_archives_ready.load(std::memory_order_acquire)) {
    return SFileOpenArchive(path.c_str(), 0, kOpenFlags, archive);
  }
  std::lock_guard<std::mutex> lock(g_first_open);
  const bool opened = SFileOpenArchive(path.c_str(), 0, kOpenFlags, archive);
  if (opened) g_archives_ready.store(true, std::memory_order_release);
  return opened;
}

// A path the C interface would cut short at an inner NUL names another file.
bool HasNul(const std::string& s) { return s.find('\0') != std::string::npos; }

}  // namespace

void CArchiveTable::ArchiveCloser::operator()(void* handle) const {
  SFileCloseArchive(handle);
}

void CArchiveTable::TableCloser::operator()(void* handle) const {
  SFileCloseFile(handle);
}

int CArchiveTable::Open(const std::string& archivePath,
                        const std::string& tablePath) {
  Close();
  failure_ = Failure::kNoArchive;
  if (archivePath.empty() || HasNul(archivePath) || HasNul(tablePath)) {
    return -1;
  }
  // Some damaged archives crash or hang the archive library inside its open
  // call; those never reach it.
  CArchiveGuards guards(archivePath, tablePath);
  if (!guards.ArchiveIsSafe()) return -1;
  HANDLE archive = nullptr;
  if (!OpenArchive(archivePath, &archive)) return -1;
  archive_.reset(archive);
  HANDLE table = nullptr;
  if (!SFileOpenFileEx(archive_.get(), tablePath.c_str(), 0, &table)) {
    // An entry that is listed but will not open is held, not missing.
    failure_ = SFileHasFile(archive_.get(), tablePath.c_str())
                   ? Failure::kRefused
                   : Failure::kNoTable;
    return -1;
  }
  table_.reset(table);
  table_path_ = tablePath;
  next_read_ = 0;
  failure_ = Failure::kRefused;
  if (!guards.TableIsSafe(archive_.get(), table_.get())) {
    table_.reset();  // refused: nothing may read it
    return -1;
  }
  // The size lets the window tell a damaged sector from the end, and read
  // a plain table in few calls. A table stored as one unit is unpacked
  // whole by every read, and a damaged one reads differently from call to
  // call: it gets no size, and is read as small refills that grow.
  DWORD flags = 0;
  DWORD high = 0;
  const DWORD low = SFileGetFileSize(table_.get(), &high);
  if (SFileGetFileInfo(table_.get(), SFileInfoFlags, &flags, sizeof flags,
                       nullptr) &&
      (flags & MPQ_FILE_SINGLE_UNIT) == 0 && low != SFILE_INVALID_SIZE &&
      high == 0) {
    size_ = low;
  }
  packed_ = (flags & MPQ_FILE_COMPRESS_MASK) != 0;
  DWORD sector = 0;
  if (packed_ && size_ > 0 && size_ <= kKeptTable &&
      SFileGetFileInfo(archive_.get(), SFileMpqSectorSize, &sector,
                       sizeof sector, nullptr) &&
      sector != 0) {
    kept_.reset(new (std::nothrow) char[static_cast<std::size_t>(size_)]);
    if (kept_) {
      sector_ = sector;
      held_.assign(static_cast<std::size_t>((size_ - 1) / sector + 1), false);
    }
  }
  failure_ = Failure::kNone;
  return 0;
}

std::int64_t CArchiveTable::ReadableIn(const std::string& archivePath) const {
  // An unpacked table's bytes are the archive file's own.
  std::error_code error;
  const std::uintmax_t file = std::filesystem::file_size(archivePath, error);
  if (packed_ || error || size_ <= 0 ||
      static_cast<std::uintmax_t>(size_) <= file) {
    return -1;
  }
  return static_cast<std::int64_t>(file);
}

void CArchiveTable::Close() {
  failure_ = Failure::kNone;
  size_ = -1;
  packed_ = false;
  next_read_ = -1;
  sector_ = 0;
  kept_.reset();
  held_.clear();
  table_.reset();
  archive_.reset();
}

std::uint32_t CArchiveTable::ReadAt(std::uint32_t pos, char* dst,
                                    std::uint32_t n) {
  return sector_ != 0 ? ReadKept(pos, dst, n) : ReadTable(pos, dst, n);
}

std::uint32_t CArchiveTable::ReadKept(std::uint32_t pos, char* dst,
                                      std::uint32_t n) {
  // Past the listed size the library delivers nothing either.
  const auto size = static_cast<std::uint32_t>(size_);
  if (pos >= size) return 0;
  const std::uint32_t end = pos + std::min(n, size - pos);
  std::uint32_t at = pos;
  while (at < end) {
    const std::uint32_t s = at / sector_;
    std::uint32_t ready = std::min(end, (s + 1) * sector_);
    bool short_read = false;
    if (!held_[s]) {
      // The run of sectors not held, read from the first one's start: the
      // library unpacks whole sectors, so this costs nothing more.
      std::uint32_t e = s + 1;
      while (e * sector_ < end && !held_[e]) ++e;
      const std::uint32_t want = std::min(size, e * sector_) - s * sector_;
      const std::uint32_t got = ReadRun(s, e);
      ready = std::min(end, s * sector_ + got);
      short_read = got < want;
    }
    if (ready > at) {
      std::memcpy(dst + (at - pos), kept_.get() + at, ready - at);
      at = ready;
    }
    if (short_read) break;
  }
  return at - pos;
}

// Reads sectors first .. end-1 into kept_; marks those it read whole; the
// bytes it delivered from the first one's start.
std::uint32_t CArchiveTable::ReadRun(std::uint32_t first, std::uint32_t end) {
  const auto size = static_cast<std::uint32_t>(size_);
  const std::uint32_t from = first * sector_;
  const std::uint32_t to = std::min(size, end * sector_);
  const std::uint32_t got = ReadTable(from, kept_.get() + from, to - from);
  for (std::uint32_t s = first; s < end; ++s) {
    if (std::min(size, (s + 1) * sector_) > from + got) break;
    held_[s] = true;
  }
  return got;
}

std::uint32_t CArchiveTable::ReadTable(std::uint32_t pos, char* dst,
                                       std::uint32_t n) {
  if (!table_ ||
      pos > static_cast<std::uint32_t>(std::numeric_limits<LONG>::max())) {
    return 0;
  }
  // A fresh handle reads from the start without being moved there. After
  // any read or seek, whether it failed or not, the position is not known.
  const bool there = static_cast<std::int64_t>(pos) == next_read_;
  next_read_ = -1;
  LONG high = 0;
  if (!there && SFileSetFilePointer(table_.get(), static_cast<LONG>(pos), &high,
                                    FILE_BEGIN) == SFILE_INVALID_POS) {
    return 0;
  }
  // A short read returns false but still counts the bytes it delivered.
  DWORD got = 0;
  SFileReadFile(table_.get(), dst, n, &got, nullptr);
  if (got < n && (size_ < 0 || pos + got < size_)) Reopen();
  return got < n ? got : n;
}

// A read that fails part way can leave the library's copy of a sector
// holding other bytes than the sector's, and later reads of that sector on
// the same handle deliver them: after a failed read, a fresh handle.
void CArchiveTable::Reopen() {
  table_.reset();
  HANDLE table = nullptr;
  if (SFileOpenFileEx(archive_.get(), table_path_.c_str(), 0, &table)) {
    table_.reset(table);
    next_read_ = 0;
  }
}
