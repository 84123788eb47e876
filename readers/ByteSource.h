#ifndef SELVANE_READERS_BYTESOURCE_H_
#define SELVANE_READERS_BYTESOURCE_H_

#include <cstdint>

// Random-access bytes that a CReadWindow is filled from: a file stream, or a
// table file inside an archive.
//
// Contract:
// - ReadAt(pos, dst, n) reads up to n bytes (n > 0) starting at absolute
//   position pos into dst and returns how many it delivered.
// - Fewer than n bytes means the data ends there (or could not be read);
//   0 means nothing could be read at pos. The window treats both alike:
//   the bytes it did get are usable, the rest fails the read that wanted
//   them.
// - ReadAt keeps no cursor the window relies on: each call names its
//   position.
// - size() is the data's size where the source knows it without reading,
//   -1 otherwise. Only a hint for how much to read at once: ReadAt alone
//   tells where the data ends.
// - packed() is true when the bytes are unpacked as they are read: the
//   window then keeps its reads small (see CReadWindow) whatever the size.
class CByteSource {
 public:
  virtual ~CByteSource() = default;
  virtual std::uint32_t ReadAt(std::uint32_t pos, char* dst,
                               std::uint32_t n) = 0;
  virtual std::int64_t size() const { return -1; }
  virtual bool packed() const { return false; }
};

#endif  // SELVANE_READERS_BYTESOURCE_H_
