#include "readers/ReadWindow.h"

#include <algorithm>
#include <new>

namespace {

// Window starts are aligned down to this, so that refills begin on archive
// sector boundaries and a small backward seek stays inside the window.
constexpr std::int64_t kAlignment = 4096;

}  // namespace

CReadWindow::CReadWindow(std::size_t capacity)
    : capacity_(
          std::min<std::size_t>(std::max<std::size_t>(capacity, 2 * kAlignment),
                                static_cast<std::size_t>(kMaxPosition + 1))) {}

void CReadWindow::Reset(CByteSource* source) {
  source_ = source;
  data_ = buffer_.get();
  start_ = 0;
  limit_ = 0;
  pos_ = 0;
  end_ = -1;
  // A plain source that tells its size is read in the fewest calls: whole
  // when it fits the window, else a window's worth at a time. Any other
  // starts small (see Refill): a packed archive table is unpacked from a
  // buffer of the read's size, and of a damaged one the archive library
  // unpacks parts it never filled, so its reads stay as small as they were.
  const std::int64_t size = source != nullptr ? source->size() : -1;
  size_ = size;
  fill_ = size > 0 && !source->packed()
              ? static_cast<std::size_t>(std::min<std::uint64_t>(
                    static_cast<std::uint64_t>(size), capacity_))
              : static_cast<std::size_t>(kAlignment);
  failed_ = source == nullptr;
}

void CReadWindow::ResetMemory(const char* data, std::size_t size) {
  Reset(nullptr);
  const auto n = static_cast<std::int64_t>(
      std::min<std::uint64_t>(size, static_cast<std::uint64_t>(kMaxPosition)));
  data_ = data;
  limit_ = n;
  end_ = n;
  failed_ = data == nullptr && size != 0;
}

const char* CReadWindow::AtSlow(std::int64_t pos, std::size_t n) {
  if (Seek(pos) != 0) return nullptr;
  if (n > capacity_ - static_cast<std::size_t>(pos % kAlignment)) {
    Fail();
    return nullptr;
  }
  if (!Reachable(n) || Refill(n) != 0) {
    Fail();
    return nullptr;
  }
  return Cursor();
}

int CReadWindow::Fail() {
  failed_ = true;
  return -1;
}

// True when n bytes from the cursor lie inside 0 .. 2^31-1 and before any
// end of data seen so far.
bool CReadWindow::Reachable(std::size_t n) const {
  const auto room = static_cast<std::uint64_t>(kMaxPosition + 1 - pos_);
  if (n > room) return false;
  return end_ < 0 || pos_ + static_cast<std::int64_t>(n) <= end_;
}

int CReadWindow::ReadSlow(char* dst, std::size_t n) {
  if (failed_) return -1;
  if (n == 0) return 0;
  if (!Reachable(n)) return Fail();
  const auto lead = static_cast<std::size_t>(pos_ % kAlignment);
  if (n > capacity_ - lead) return ReadDirect(dst, n);
  if (Refill(n) != 0) return -1;
  std::memcpy(dst, Cursor(), n);
  pos_ += static_cast<std::int64_t>(n);
  return 0;
}

// Larger than the window: straight from the source into the caller's
// buffer, leaving the window as it is.
int CReadWindow::ReadDirect(char* dst, std::size_t n) {
  if (source_ == nullptr) return Fail();
  const auto ask = static_cast<std::uint32_t>(n);  // Reachable: n <= 2^31
  const std::uint32_t got =
      source_->ReadAt(static_cast<std::uint32_t>(pos_), dst, ask);
  if (got < ask) {
    if (!Damaged(pos_ + got)) end_ = pos_ + got;
    return Fail();
  }
  pos_ += static_cast<std::int64_t>(n);
  return 0;
}

int CReadWindow::Refill(std::size_t n) {
  // Memory is served whole: what it does not hold does not exist.
  if (source_ == nullptr) return Fail();
  const std::int64_t base = pos_ - pos_ % kAlignment;
  // Refills start small and double up to the capacity: a lookup that ends
  // near the start of a file reads (and unpacks) little, a scan soon reads
  // in large pieces.
  const std::size_t want = std::min(
      std::max(fill_, static_cast<std::size_t>(pos_ - base) + n), capacity_);
  fill_ = std::min(fill_ * 2, capacity_);
  if (buffer_size_ < want) {
    // Grown with the refills, and left as the allocator gives it: a small
    // table never pays for touching the whole capacity.
    buffer_.reset(new (std::nothrow) char[want]);
    buffer_size_ = buffer_ ? want : 0;
    data_ = buffer_.get();
    start_ = limit_ = 0;
    if (!buffer_) return Fail();
  }
  // Never ask for bytes beyond 2^31-1 nor past a known end.
  std::int64_t limit = std::min<std::int64_t>(
      base + static_cast<std::int64_t>(want), kMaxPosition + 1);
  if (end_ >= 0) limit = std::min(limit, end_);
  const auto ask = static_cast<std::uint32_t>(limit - base);
  std::uint32_t got = std::min(
      source_->ReadAt(static_cast<std::uint32_t>(base), buffer_.get(), ask),
      ask);
  std::int64_t start = base;
  if (got < ask && Damaged(base + got)) {
    // A read across a damaged part fails whole, though the bytes before it
    // read one by one: read again in pieces from the one holding the
    // cursor, as far as they go.
    start = pos_ - pos_ % kPiece;
    got = ReadPieces(start, static_cast<std::uint32_t>(limit - start));
  } else if (got < ask) {
    end_ = base + got;
  }
  start_ = start;
  limit_ = start + got;
  if (Available() < n) return Fail();
  return 0;
}

std::uint32_t CReadWindow::ReadPieces(std::int64_t start, std::uint32_t ask) {
  std::uint32_t got = 0;
  while (got < ask) {
    const auto piece =
        static_cast<std::uint32_t>(std::min<std::int64_t>(kPiece, ask - got));
    const std::uint32_t n =
        std::min(source_->ReadAt(static_cast<std::uint32_t>(start + got),
                                 buffer_.get() + got, piece),
                 piece);
    got += n;
    if (n < piece) break;
  }
  return got;
}
