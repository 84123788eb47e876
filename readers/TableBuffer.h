#ifndef SELVANE_READERS_TABLEBUFFER_H_
#define SELVANE_READERS_TABLEBUFFER_H_

#include <cstddef>

// Room for one table read whole, reused from lookup to lookup: the process
// keeps one buffer given back (the last one, at most kMaxKept bytes), so
// that the usual small lookup neither allocates nor frees its largest block.
// A buffer is held by one CTableBuffer at a time; one that finds the kept
// buffer taken, or too small, allocates its own. Nothing throws.
class CTableBuffer {
 public:
  static constexpr std::size_t kMaxKept = 1024 * 1024;

  CTableBuffer() = default;
  ~CTableBuffer() { Release(); }
  CTableBuffer(const CTableBuffer&) = delete;
  CTableBuffer& operator=(const CTableBuffer&) = delete;

  // Room for n bytes (contents unspecified), valid until Release; null when
  // it cannot be had.
  char* Reserve(std::size_t n);
  // Gives the room back for a later Reserve, here or in another holder.
  void Release();

  struct Block;  // defined where the kept one lives

 private:
  Block* block_ = nullptr;
};

#endif  // SELVANE_READERS_TABLEBUFFER_H_
