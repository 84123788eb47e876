#ifndef SELVANE_READERS_ARCHIVETABLE_H_
#define SELVANE_READERS_ARCHIVETABLE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "readers/ByteSource.h"

// One table file inside an archive, opened read-only, as a byte source.
// Holds the archive library's two handles; releases the table, then the
// archive. A small packed table keeps every sector it has unpacked, so that
// the record and string windows, and a refill that starts inside a sector,
// never unpack one twice.
class CArchiveTable : public CByteSource {
 public:
  CArchiveTable() = default;
  CArchiveTable(const CArchiveTable&) = delete;
  CArchiveTable& operator=(const CArchiveTable&) = delete;
  ~CArchiveTable() override { Close(); }

  // Closes what is held, then opens the archive (a narrow path) and the
  // table inside it (the path as given, directories included). The archive
  // and the table entry pass the archive guards before the library reads
  // them. A failed open may leave the archive held until Close; failure()
  // then tells why it failed.
  int Open(const std::string& archivePath, const std::string& tablePath);
  void Close();
  bool is_open() const { return archive_ && table_; }

  // Why the last Open failed: the archive would not open, it holds no such
  // table, or it holds one that could not be opened or that the guards
  // refused. kNone after a successful Open or a Close.
  enum class Failure { kNone, kNoArchive, kNoTable, kRefused };
  Failure failure() const { return failure_; }

  std::uint32_t ReadAt(std::uint32_t pos, char* dst, std::uint32_t n) override;
  // The table's size as the archive lists it; -1 when closed or stored as
  // one unit.
  std::int64_t size() const override { return size_; }
  bool packed() const override { return packed_; }
  // How many of the table's bytes can be read at most, when that is known
  // to be fewer than its listed size (a damaged entry may list a table far
  // larger than its archive), for a reader that wants every readable byte:
  // an unpacked table's bytes are the archive file's own, so there are no
  // more of them than the file holds. archivePath is the one it was opened
  // from. -1 when not known.
  std::int64_t ReadableIn(const std::string& archivePath) const;

  // Packed tables up to this size keep their unpacked sectors.
  static constexpr std::int64_t kKeptTable = 1024 * 1024;

 private:
  // One read through the archive library at pos; the bytes it delivered.
  std::uint32_t ReadTable(std::uint32_t pos, char* dst, std::uint32_t n);
  // ReadAt for a table whose sectors are kept: held sectors are copied, each
  // run of missing ones read whole, in one call, and kept when it read whole.
  std::uint32_t ReadKept(std::uint32_t pos, char* dst, std::uint32_t n);
  std::uint32_t ReadRun(std::uint32_t first, std::uint32_t end);
  void Reopen();

  // Each releases one kind of archive library handle.
  struct ArchiveCloser {
    void operator()(void* handle) const;
  };
  struct TableCloser {
    void operator()(void* handle) const;
  };

  // Declared archive first: the table is released before it.
  std::unique_ptr<void, ArchiveCloser> archive_;
  std::unique_ptr<void, TableCloser> table_;
  Failure failure_ = Failure::kNone;
  std::string table_path_;  // for Reopen
  // Where the table handle's next read starts, when known without asking:
  // 0 on a fresh handle, unknown (-1) after any read.
  std::int64_t next_read_ = -1;
  std::int64_t size_ = -1;
  bool packed_ = false;
  // Kept sectors: sector_ > 0 when this table keeps them; kept_ holds the
  // table's bytes where held_ marks their sector.
  std::uint32_t sector_ = 0;
  std::unique_ptr<char[]> kept_;
  std::vector<bool> held_;
};

#endif  // SELVANE_READERS_ARCHIVETABLE_H_
