#ifndef SELVANE_READERS_DBCFILEWRAPPER_H_
#define SELVANE_READERS_DBCFILEWRAPPER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "readers/ArchiveTable.h"
#include "readers/DbcCursor.h"
#include "readers/FileWrapper.h"
#include "readers/ReadWindow.h"
#include "readers/TableBuffer.h"

// Reads a DBC table inside an MPQ archive: fixed-size records after the
// header, then a block of NUL-terminated strings that string fields point
// into. The scan and the record layout are the cursor's (DbcCursor.h); this
// class opens the table and serves the primitives from the same window.
//
// Seeks succeed for any position in 0 .. 2^31-1, past the end of the table
// too; the read that follows there fails. A failed read or seek leaves the
// position where it was, and does not fail the primitives that follow.
class CDBCFileWrapper : public CFileWrapper {
 public:
  // Bytes of the table each window holds at most.
  static constexpr std::size_t kWindowCapacity = 256 * 1024;
  // A plain table up to this size (most are) is read whole with one call
  // and both windows run over it in memory; a packed one is read as the
  // window reads it (see CReadWindow).
  static constexpr std::int64_t kWholeTable = 1024 * 1024;

  CDBCFileWrapper();
  ~CDBCFileWrapper() override;

  // Opens the archive read-only and the table inside it (the path as given,
  // directories included), then reads the header. A failed open may leave
  // the archive held until Close.
  int Open(const std::wstring& archivePath, const std::string& tablePath);

  // 0 when definitions are attached and both field indexes name a column of
  // the table: 0 <= fieldIndex < field count.
  int CheckFieldIndexes(const DBParam_t& key, const DBParam_t& result) const;

  int Query(DBParam_t& key, DBParam_t& result) override;
  int ReadInt(std::int32_t* value) override;
  int ReadFloat(float* value) override;
  // Reads a 4-byte string-block offset and appends the string found there.
  int ReadString(std::string& out) override;
  int ReadByte(char* value) override;
  int ReadBytes(char* buffer, std::int32_t count) override;
  int ReadHeader() override;
  // Releases the table, then the archive.
  void Close() override;
  int SeekFromBegin(std::int32_t position) override;
  int SeekFromCurrent(std::int32_t distance) override;

  const DBCHeader_t& header() const { return cursor_.header(); }

 private:
  // Clears a failure left by an earlier call, keeping the position, so that
  // every primitive stands on its own as the interface promises.
  bool Ready();
  // Serves the window from the table read whole, or else from the archive.
  void Attach(CReadWindow* window);
  // Reads a small table whole; false leaves it to be read through the
  // windows, as a large or damaged one is.
  bool ReadWhole();
  int QueryUnguarded(DBParam_t& key, DBParam_t& result);

  CArchiveTable table_;
  CTableBuffer whole_;  // holds the table when read whole
  const char* whole_data_ = nullptr;
  std::size_t whole_size_ = 0;  // 0: not read whole
  CReadWindow window_;          // records and primitives
  CReadWindow strings_;  // the string block while a scan compares strings
  CDbcCursor cursor_;
};

#endif  // SELVANE_READERS_DBCFILEWRAPPER_H_
