#include "readers/ReadWindow.h"

#include <algorithm>
#include <limits>

namespace {

constexpr std::int64_t kMaxPosition = std::numeric_limits<std::int32_t>::max();
// Window starts are aligned down to this, so that refills begin on archive
// sector boundaries and a small backward seek stays inside the window.
constexpr std::int64_t kAlignment = 4096;

}  // namespace

CReadWindow::CReadWindow(std::size_t capacity)
    : capacity_(std::max<std::size_t>(capacity, 2 * kAlignment)) {}

void CReadWindow::Reset(CByteSource* source) {
  source_ = source;
  start_ = 0;
  length_ = 0;
  pos_ = 0;
  end_ = -1;
  failed_ = false;
}

int CReadWindow::Fail() {
  failed_ = true;
  return -1;
}

int CReadWindow::Seek(std::int64_t position) {
  if (failed_) return -1;
  if (position < 0 || position > kMaxPosition) return Fail();
  pos_ = position;
  return 0;
}

int CReadWindow::ReadSlow(char* dst, std::size_t n) {
  if (failed_ || source_ == nullptr) return Fail();
  if (n == 0) return 0;
  const std::int64_t want_end = pos_ + static_cast<std::int64_t>(n);
  if (want_end - 1 > kMaxPosition) return Fail();
  if (end_ >= 0 && want_end > end_) return Fail();

  const std::int64_t base = pos_ - pos_ % kAlignment;
  const std::size_t lead = static_cast<std::size_t>(pos_ - base);
  if (lead + n > capacity_) {
    // Larger than the window: straight from the source into the caller's
    // buffer, leaving the window as it is.
    const auto got = source_->ReadAt(static_cast<std::uint32_t>(pos_), dst,
                                     static_cast<std::uint32_t>(n));
    if (got < n) return Fail();
    pos_ = want_end;
    return 0;
  }

  if (buffer_.size() < capacity_) buffer_.resize(capacity_);
  // Never ask for bytes beyond 2^31-1 nor past a known end.
  std::int64_t limit = std::min<std::int64_t>(
      base + static_cast<std::int64_t>(capacity_), kMaxPosition + 1);
  if (end_ >= 0) limit = std::min(limit, end_);
  const auto ask = static_cast<std::uint32_t>(limit - base);
  const auto got =
      source_->ReadAt(static_cast<std::uint32_t>(base), buffer_.data(), ask);
  start_ = base;
  length_ = std::min<std::size_t>(got, ask);
  if (length_ < ask) end_ = base + static_cast<std::int64_t>(length_);
  if (!InWindow(n)) return Fail();
  std::memcpy(dst, Cursor(), n);
  pos_ = want_end;
  return 0;
}
