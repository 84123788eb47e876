#include "fuzz/DamagedStreamWatch.h"

#include <dlfcn.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<unsigned long> g_damaged{0};

}  // namespace

// Takes the place of zlib's inflate for the archive library, which calls it
// through the dynamic linker, and forwards to the real one. Visible, as the
// build hides symbols by default.
//
// The library unpacks a sector with one call that must finish the stream:
// a sound sector ends its stream exactly where the output buffer (the
// sector's size) is full. Anything else, a damaged stream, one cut short or
// one that ends early, leaves part of the buffer unwritten.
extern "C" __attribute__((visibility("default"))) int inflate(z_streamp stream,
                                                              int flush) {
  using Inflate = int (*)(z_streamp, int);
  static const Inflate real =
      reinterpret_cast<Inflate>(dlsym(RTLD_NEXT, "inflate"));
  if (real == nullptr) {
    std::fprintf(stderr, "DamagedStreamWatch: no inflate to forward to\n");
    std::abort();
  }
  const int rc = real(stream, flush);
  if (flush == Z_FINISH && (rc != Z_STREAM_END || stream->avail_out != 0)) {
    ++g_damaged;
  }
  return rc;
}

unsigned long DamagedStreamWatch::Count() { return g_damaged.load(); }
