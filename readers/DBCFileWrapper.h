#ifndef SELVANE_READERS_DBCFILEWRAPPER_H_
#define SELVANE_READERS_DBCFILEWRAPPER_H_

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "readers/ByteSource.h"
#include "readers/FileWrapper.h"
#include "readers/ReadWindow.h"

// The 20-byte header of a DBC table, in file order. Valid only after a
// successful ReadHeader.
struct DBCHeader_t {
  char magic[4];  // read, never compared
  std::int32_t recordCount;
  std::int32_t fieldCount;
  std::int32_t recordSize;
  std::int32_t stringBlockSize;  // held, not consulted
};

// Reads a DBC table inside an MPQ archive: fixed-size records after the
// header, then a block of NUL-terminated strings that string fields point
// into. A field's offset within a record is the sum of the sizes that the
// definitions give the fields before it (4 for a position they do not list).
//
// Reads and seeks are served from a bounded window filled with large reads
// from the archive, so a scan costs memory copies rather than archive calls.
// Seeks succeed for any position in 0 .. 2^31-1, past the end of the table
// too; the read that follows there fails. A failed read or seek leaves the
// position where it was.
class CDBCFileWrapper : public CFileWrapper, private CByteSource {
 public:
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

  const DBCHeader_t& header() const { return header_; }

 private:
  // Each releases one kind of archive library handle.
  struct ArchiveCloser {
    void operator()(void* handle) const;
  };
  struct TableCloser {
    void operator()(void* handle) const;
  };

  // Fills the window from the open table.
  std::uint32_t ReadAt(std::uint32_t pos, char* dst, std::uint32_t n) override;

  static ValueKind KindOf(std::int32_t type);
  bool NamesColumn(std::int32_t index) const;

  // Clears a failure left by an earlier call, keeping the position, so that
  // every primitive stands on its own as the interface promises.
  bool Ready();

  std::int64_t StringBlockStart() const;
  // Appends the NUL-terminated string at pos to out.
  int AppendStringAt(std::int64_t pos, std::string& out);

  // A short string key prepared for comparing a word at a time.
  struct KeyPattern;
  // A string key as a scan compares it.
  struct StringKey;
  // The verdict on the string at pos from the string batch alone, reading
  // nothing: 1 it equals the key, 0 it does not, and 2 when the batch does
  // not hold it through its NUL.
  int TestHeldString(std::int64_t pos, const StringKey& key) const;
  // Reads the string at pos and tells whether it equals text (given as
  // pattern too when it is short and holds no NUL). The whole string is read
  // even after a difference, so an unterminated one fails as reading it into
  // a string would.
  int MatchStringAt(std::int64_t pos, const std::string& text,
                    const KeyPattern* pattern, bool* matched);
  int MatchStringBytewise(std::int32_t start, const std::string& text,
                          bool* matched);
  // Reads the string batch anew from a sector boundary at or before pos and
  // returns the short block of bytes at pos; null when the batch cannot
  // hold them.
  const char* RefillStringBatch(std::int64_t pos);

  int OpenUnguarded(const std::wstring& archivePath,
                    const std::string& tablePath);
  int QueryUnguarded(DBParam_t& key, DBParam_t& result);
  // Finds the first of count records whose key field, keyOffset bytes into
  // the record, matches; stores its index in *found. -1 when none matches
  // or a read fails.
  int FindRecord(ValueKind kind, const DBParam_t& key, std::int64_t keyOffset,
                 std::int64_t count, std::int64_t* found);
  template <std::size_t kWidth, typename Visit>
  int VisitKeys(std::int64_t keyOffset, std::int64_t count, const Visit& visit,
                std::int64_t* found);
  int ScanStrings(std::int64_t keyOffset, std::int64_t count,
                  const std::string& text, std::int64_t* found);

  std::wstring archive_path_;
  std::string table_path_;
  // Declared archive first: the table is released before it.
  std::unique_ptr<void, ArchiveCloser> archive_;
  std::unique_ptr<void, TableCloser> table_;
  DBCHeader_t header_{};
  // Serves the primitives, and the records of a short scan.
  CReadWindow window_;
  // Serves the string block while a scan compares string keys, so that
  // records and strings, far apart in a large table, each keep their bytes.
  CReadWindow strings_;
  // A read from the string window that reaches this far is known to fail.
  static constexpr std::int64_t kNoEnd =
      std::numeric_limits<std::int64_t>::max();
  std::int64_t failing_string_end_ = kNoEnd;
  // A long scan reads records, and the string block, in batches straight
  // from the table into these; each is allocated on first use.
  std::unique_ptr<char[]> batch_;
  std::unique_ptr<char[]> string_batch_;
  std::int64_t string_batch_start_ = 0;
  std::int64_t string_batch_length_ = 0;
  // Bytes of the string batch up to and including its last NUL: a string
  // that starts before there ends inside the batch.
  std::int64_t string_batch_terminated_ = 0;
  // Bytes in the table (at most 2^31-1); -1 when unknown or found untrue.
  std::int64_t table_size_ = -1;
};

#endif  // SELVANE_READERS_DBCFILEWRAPPER_H_
