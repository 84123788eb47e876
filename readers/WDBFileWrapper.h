#ifndef SELVANE_READERS_WDBFILEWRAPPER_H_
#define SELVANE_READERS_WDBFILEWRAPPER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <SelvaneLibrary/DBParam.h>
#include <SelvaneLibrary/detail/FieldAttr.h>

#include "readers/FileWrapper.h"
#include "readers/ReadWindow.h"
#include "readers/SharedFileStream.h"
#include "readers/StreamSource.h"

// The 20-byte header of a WDB cache file, in file order. Kept as read;
// nothing compares it with anything.
struct WDBHeader_t {
  char firstTag[4] = {};
  std::int32_t firstNumber = 0;
  char secondTag[4] = {};
  std::int32_t secondNumber = 0;
  std::int32_t thirdNumber = 0;
};

// Reader for WDB cache files on disk: a 20-byte header, then records framed
// by an entry id and a data length, whose fields the definitions describe
// one after another ("cstring" fields inline, so no record has a fixed
// layout). Field index 0 is the entry id, 1 the data length, 2 and up the
// definition's third entry onwards.
//
// The primitives are served from a bounded read window over the stream, so
// the scan's seek to every record start moves a cursor instead of dropping
// the stream's buffer.
class CWDBFileWrapper final : public CFileWrapper {
 public:
  // Bytes the reader holds of the file at a time: fixed, whatever the
  // file's size. Larger than the window's default, as a scan of the whole
  // file measured about a quarter faster so.
  static constexpr std::size_t kWindowCapacity = 256 * 1024;

  CWDBFileWrapper();
  ~CWDBFileWrapper() override;

  int Query(DBParam_t& key, DBParam_t& result) override;
  int ReadInt(std::int32_t* value) override;
  int ReadFloat(float* value) override;
  int ReadString(std::string& out) override;
  int ReadByte(char* value) override;
  int ReadBytes(char* buffer, std::int32_t count) override;
  int ReadHeader() override;
  void Close() override;
  int SeekFromBegin(std::int32_t position) override;
  int SeekFromCurrent(std::int32_t distance) override;

  // Closes what is held, then opens the file and reads its header. A path
  // holding a character above 0xFF is refused: cut to 8 bits it would name
  // another file.
  int Open(const std::wstring& path);

  // Both field indexes, taken as unsigned, below the number of definitions.
  int CheckFieldIndexes(const DBParam_t& key, const DBParam_t& result) const;

  // Reads through the next NUL.
  int SkipCString();
  // Steps over one field as the definition describes it. Failures show in
  // the next read or seek.
  void SkipField(const selvane::FieldAttr_t& entry);

  const std::wstring& path() const { return path_; }
  const WDBHeader_t& header() const { return header_; }

 private:
  // The definitions in ascending order of position, as far as a query needs.
  using FieldList = std::vector<const selvane::FieldAttr_t*>;

  static bool KindOf(std::int32_t type, ValueKind* kind);

  void OpenStream(const std::string& narrowPath);
  int Scan(DBParam_t& key, DBParam_t& result);
  // 1 when the record at the cursor's framing words matches, 0 when not,
  // -1 when the query has to end.
  int TestKey(DBParam_t& key, std::int32_t id, std::int32_t length,
              const FieldList& fields);
  int ReadResult(DBParam_t& result, std::int32_t recordStart, std::int32_t id,
                 std::int32_t length, const FieldList& fields);

  std::wstring path_;
  CSharedFileStream stream_;
  WDBHeader_t header_;
  CStreamSource source_;
  CReadWindow window_;
};

#endif  // SELVANE_READERS_WDBFILEWRAPPER_H_
