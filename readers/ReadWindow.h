#ifndef SELVANE_READERS_READWINDOW_H_
#define SELVANE_READERS_READWINDOW_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "readers/ByteSource.h"

// A bounded window of bytes over a CByteSource, with a cursor and a sticky
// error state. Both readers serve their primitive reads and seeks from it,
// so a scan that seeks to every record costs a memcpy, not a system call.
//
// Contract:
// - A seek to a position in 0 .. 2^31-1 always succeeds, also past the end
//   of the data; the next read there fails. A seek outside that range fails.
// - A read delivers all the bytes asked for or fails.
// - Once a read or seek has failed, every later one fails too, until Reset.
// - Memory is bounded by the capacity, whatever the size of the data: a read
//   larger than the window goes straight to the source.
class CReadWindow {
 public:
  static constexpr std::size_t kDefaultCapacity = 64 * 1024;

  explicit CReadWindow(std::size_t capacity = kDefaultCapacity);

  CReadWindow(const CReadWindow&) = delete;
  CReadWindow& operator=(const CReadWindow&) = delete;

  // Serves from this source, cursor at 0, no error. Null detaches: every
  // read fails.
  void Reset(CByteSource* source);

  bool ok() const { return !failed_; }
  std::int64_t position() const { return pos_; }

  // 0 on success, -1 on failure, as the readers' primitives report.
  int Seek(std::int64_t position);
  int Skip(std::int64_t distance) { return Seek(pos_ + distance); }
  int Read(char* dst, std::size_t n) {
    if (!failed_ && InWindow(n)) {
      std::memcpy(dst, Cursor(), n);
      pos_ += static_cast<std::int64_t>(n);
      return 0;
    }
    return ReadSlow(dst, n);
  }
  int ReadByte(char* dst) { return Read(dst, 1); }

 private:
  bool InWindow(std::size_t n) const {
    return pos_ >= start_ &&
           static_cast<std::size_t>(pos_ - start_) + n <= length_;
  }
  const char* Cursor() const {
    return buffer_.data() + static_cast<std::size_t>(pos_ - start_);
  }
  int ReadSlow(char* dst, std::size_t n);
  int Fail();

  CByteSource* source_ = nullptr;
  std::size_t capacity_;
  std::vector<char> buffer_;
  std::int64_t start_ = 0;  // position of buffer_[0]
  std::size_t length_ = 0;  // valid bytes in buffer_
  std::int64_t pos_ = 0;    // cursor
  std::int64_t end_ = -1;   // end of the data once a short read showed it
  bool failed_ = false;
};

#endif  // SELVANE_READERS_READWINDOW_H_
