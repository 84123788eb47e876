#ifndef SELVANE_READERS_READWINDOW_H_
#define SELVANE_READERS_READWINDOW_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "readers/ByteSource.h"

// A bounded window of bytes over a CByteSource, or over bytes already in
// memory, with a cursor and a sticky error state. Both readers serve their
// scans and primitive reads from it, so a scan that visits every record costs
// a bounds check, not a system call.
//
// Contract:
// - A seek to a position in 0 .. 2^31-1 always succeeds, also past the end
//   of the data; the next read there fails. A seek outside that range fails.
// - A read delivers all the bytes asked for or fails. No byte beyond
//   position 2^31-1 is ever read.
// - Once a read or seek has failed, every later one fails too, until Reset.
// - A read fails exactly where reading its bytes from the source one piece
//   at a time would: a source that tells its size and delivers less before
//   that size has a damaged part there, which fails the reads that need it
//   and no other.
// - Memory is bounded by the capacity, whatever the size of the data: a read
//   larger than the window goes straight to the source. Refills start at
//   4 KiB and double up to the capacity, except from a plain source that
//   tells its size: that one is read whole, or a capacity at a time. The buffer
//   grows with the refills and is never zero-filled.
// - Nothing throws.
class CReadWindow {
 public:
  static constexpr std::size_t kDefaultCapacity = 64 * 1024;
  static constexpr std::int64_t kMaxPosition = 0x7FFFFFFF;  // 2^31-1
  // What a refill reads again in after a damaged part: no piece spans two
  // of an archive's sectors, whose smallest size this is.
  static constexpr std::int64_t kPiece = 512;

  explicit CReadWindow(std::size_t capacity = kDefaultCapacity);

  CReadWindow(const CReadWindow&) = delete;
  CReadWindow& operator=(const CReadWindow&) = delete;

  // Serves from this source, cursor at 0, no error. Null detaches: the
  // window is then failed, and every read and seek fails.
  void Reset(CByteSource* source);
  // Serves these bytes in place (not copied, not owned; they must outlive
  // the window's use), as a source of exactly that many bytes. Anything past
  // 2^31-1 is not served.
  void ResetMemory(const char* data, std::size_t size);

  bool ok() const { return !failed_; }
  std::int64_t position() const { return pos_; }

  // Enters the failed state; returns -1.
  int Fail();

  // 0 on success, -1 on failure, as the readers' primitives report.
  int Seek(std::int64_t position) {
    if (failed_) return -1;
    if (position < 0 || position > kMaxPosition) return Fail();
    pos_ = position;
    return 0;
  }
  int Skip(std::int64_t distance) {
    if (failed_) return -1;
    // Compared before adding, so that no distance can overflow.
    if (distance < -pos_ || distance > kMaxPosition - pos_) return Fail();
    pos_ += distance;
    return 0;
  }
  int Read(char* dst, std::size_t n) {
    if (!failed_ && n != 0 && n <= Available()) {
      std::memcpy(dst, Cursor(), n);
      pos_ += static_cast<std::int64_t>(n);
      return 0;
    }
    return ReadSlow(dst, n);
  }
  int ReadByte(char* dst) { return Read(dst, 1); }

  // The n bytes at pos (n at most the capacity less 4 KiB), held in place:
  // the window refills around pos when it does not hold them, leaving the
  // cursor at pos. Null when they cannot be read, and the window is then
  // failed. The pointer is valid until the next call that may refill.
  const char* At(std::int64_t pos, std::size_t n) {
    if (!failed_ && pos >= start_ &&
        pos + static_cast<std::int64_t>(n) <= limit_) {
      return data_ + (pos - start_);
    }
    return AtSlow(pos, n);
  }

  // The bytes the window holds from pos on, in place, reading nothing and
  // moving nothing; 0 when it holds none there (or is failed).
  std::size_t HeldAt(std::int64_t pos, const char** data) const {
    if (failed_ || pos < start_ || pos >= limit_) return 0;
    *data = data_ + (pos - start_);
    return static_cast<std::size_t>(limit_ - pos);
  }

  // Loads the window so that it holds bytes from pos on (as many as one
  // refill gives), for a caller that then looks with Peek. Fails as a read
  // of one byte at pos would.
  int Load(std::int64_t position) {
    if (Seek(position) != 0) return -1;
    if (Available() != 0) return 0;
    return Fill();
  }

  // The bytes the window already holds from the cursor on, for a caller
  // that parses them in place; reads nothing and moves nothing. 0 when
  // failed or when the cursor lies outside the window.
  std::size_t Peek(const char** data) const {
    const std::size_t n = failed_ ? 0 : Available();
    if (n != 0) *data = Cursor();
    return n;
  }

  // Consumes the bytes up to and including the next `delim`, handing those
  // before it to sink(const char* data, std::size_t n) in one or more pieces.
  // Fails when the data ends first; the pieces handed over until then stay
  // handed over. Same outcome as reading byte by byte, without the per-byte
  // cost.
  template <typename Sink>
  int ReadThrough(char delim, Sink&& sink) {
    if (failed_) return -1;
    for (;;) {
      std::size_t avail = Available();
      if (avail == 0) {
        if (Fill() != 0) return -1;
        avail = Available();
      }
      const char* p = Cursor();
      const void* hit = std::memchr(p, delim, avail);
      const std::size_t take =
          hit == nullptr
              ? avail
              : static_cast<std::size_t>(static_cast<const char*>(hit) - p);
      sink(p, take);
      pos_ += static_cast<std::int64_t>(take);
      if (hit != nullptr) {
        pos_ += 1;
        return 0;
      }
    }
  }

 private:
  // Bytes the window holds from the cursor on; 0 when the cursor is outside.
  std::size_t Available() const {
    if (pos_ < start_ || pos_ >= limit_) return 0;
    return static_cast<std::size_t>(limit_ - pos_);
  }
  const char* Cursor() const {
    return data_ + static_cast<std::size_t>(pos_ - start_);
  }
  const char* AtSlow(std::int64_t pos, std::size_t n);
  bool Reachable(std::size_t n) const;
  int ReadSlow(char* dst, std::size_t n);
  int ReadDirect(char* dst, std::size_t n);
  // Loads the window around the cursor so that it holds n bytes from there.
  int Refill(std::size_t n);
  int Fill() { return Reachable(1) ? Refill(1) : Fail(); }
  // Reads up to ask bytes at start into the buffer in small pieces, up to
  // the first that comes back short; the bytes read.
  std::uint32_t ReadPieces(std::int64_t start, std::uint32_t ask);
  // True when a read that came back short at `at` stopped before the end
  // of the data the source told: a damaged part, not the end.
  bool Damaged(std::int64_t at) const { return size_ >= 0 && at < size_; }

  CByteSource* source_ = nullptr;
  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;  // refills land here
  std::size_t buffer_size_ = 0;
  const char* data_ = nullptr;  // buffer_, or the caller's memory
  std::int64_t start_ = 0;      // position of buffer_[0]
  std::int64_t limit_ = 0;      // position just after the last valid byte
  std::int64_t pos_ = 0;        // cursor, 0 .. 2^31
  std::int64_t end_ = -1;       // end of the data once a short read showed it
  std::int64_t size_ = -1;      // the data's size as the source told it
  std::size_t fill_ = 4096;     // size of the next refill; doubles per refill
  bool failed_ = true;          // until Reset attaches a source
};

#endif  // SELVANE_READERS_READWINDOW_H_
