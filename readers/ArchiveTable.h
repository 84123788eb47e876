#ifndef SELVANE_READERS_ARCHIVETABLE_H_
#define SELVANE_READERS_ARCHIVETABLE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "readers/ByteSource.h"

// One table file inside an archive, opened read-only, as a byte source.
// Holds the archive library's two handles; releases the table, then the
// archive.
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

 private:
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
  std::int64_t size_ = -1;
  bool packed_ = false;
};

#endif  // SELVANE_READERS_ARCHIVETABLE_H_
