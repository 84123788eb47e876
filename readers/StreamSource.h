#ifndef SELVANE_READERS_STREAMSOURCE_H_
#define SELVANE_READERS_STREAMSOURCE_H_

#include <cstdint>
#include <istream>

#include "readers/ByteSource.h"

// A CByteSource over an input stream that the caller owns and keeps open.
// Each ReadAt positions the stream itself and reads with one call, so the
// stream's own state says nothing about the reader's: the window on top
// keeps the sticky failure.
class CStreamSource : public CByteSource {
 public:
  explicit CStreamSource(std::istream* stream) : stream_(stream) {}

  std::uint32_t ReadAt(std::uint32_t pos, char* dst, std::uint32_t n) override;

 private:
  std::istream* stream_;
};

#endif  // SELVANE_READERS_STREAMSOURCE_H_
