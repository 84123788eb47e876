#include "readers/StreamSource.h"

std::uint32_t CStreamSource::ReadAt(std::uint32_t pos, char* dst,
                                    std::uint32_t n) {
  try {
    // A short read at the end of the data leaves eof and fail set; a later
    // refill elsewhere (a backward seek) must still work.
    stream_->clear();
    stream_->seekg(static_cast<std::streamoff>(pos), std::ios::beg);
    if (!*stream_) return 0;
    stream_->read(dst, static_cast<std::streamsize>(n));
    const std::streamsize got = stream_->gcount();
    return got <= 0 ? 0 : static_cast<std::uint32_t>(got);
  } catch (...) {  // a stream set to throw: treat as unreadable
    return 0;
  }
}
