#ifndef SELVANE_READERS_WDBFILEWRAPPER_H_
#define SELVANE_READERS_WDBFILEWRAPPER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include <SelvaneLibrary/DBParam.h>
#include <SelvaneLibrary/detail/FieldAttr.h>

#include "readers/ByteSource.h"
#include "readers/FileWrapper.h"
#include "readers/ReadWindow.h"
#include "readers/SharedFile.h"
#include "readers/WdbCursor.h"

// Reader for WDB cache files on disk: a 20-byte header, then records framed
// by an entry id and a data length, whose fields the definitions describe
// one after another ("cstring" fields inline, so no record has a fixed
// layout). The scan and the field walk are the cursor's (WdbCursor.h); this
// class opens the file and serves the primitives from the same window, whose
// failure is sticky: once a read or seek has failed, every later one fails.
class CWDBFileWrapper final : public CFileWrapper {
 public:
  // Bytes the reader holds of the file at a time at most, whatever the
  // file's size.
  static constexpr std::size_t kWindowCapacity = 256 * 1024;
  // A file up to this size is read a whole window at a time from its start.
  static constexpr std::uint64_t kSmallFile = 1024 * 1024;

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
  int Scan(DBParam_t& key, DBParam_t& result);

  // The open file as the window reads it: the bytes it held when opened. It
  // tells its size only when it is small (most are), which is then read a
  // window at a time, in the fewest calls; a larger one is read from 4 KiB
  // on, doubling, so that a lookup ending near its start reads little. A
  // file cut short meanwhile ends where a read of it fails.
  class FileBytes final : public CByteSource {
   public:
    explicit FileBytes(CSharedFile* file) : file_(file) {}
    std::uint32_t ReadAt(std::uint32_t pos, char* dst,
                         std::uint32_t n) override;
    std::int64_t size() const override {
      return file_->IsOpen() && file_->size() <= kSmallFile
                 ? static_cast<std::int64_t>(file_->size())
                 : -1;
    }

   private:
    CSharedFile* file_;
  };

  std::wstring path_;
  CSharedFile file_;
  FileBytes bytes_;
  WDBHeader_t header_;
  CReadWindow window_;
  CWdbCursor cursor_;
};

#endif  // SELVANE_READERS_WDBFILEWRAPPER_H_
