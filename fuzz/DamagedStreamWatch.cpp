#include "fuzz/DamagedStreamWatch.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

struct z_stream_s;

namespace {

// zlib's codes for a stream that is damaged or needs a preset dictionary,
// which an archive sector never has.
constexpr int kZlibDataError = -3;
constexpr int kZlibNeedDict = 2;

std::atomic<unsigned long> g_damaged{0};

}  // namespace

// Takes the place of zlib's inflate for the archive library, which calls it
// through the dynamic linker, and forwards to the real one. Visible, as the
// build hides symbols by default.
extern "C" __attribute__((visibility("default"))) int inflate(
    z_stream_s* stream, int flush) {
  using Inflate = int (*)(z_stream_s*, int);
  static const Inflate real =
      reinterpret_cast<Inflate>(dlsym(RTLD_NEXT, "inflate"));
  if (real == nullptr) {
    std::fprintf(stderr, "DamagedStreamWatch: no inflate to forward to\n");
    std::abort();
  }
  const int rc = real(stream, flush);
  if (rc == kZlibDataError || rc == kZlibNeedDict) ++g_damaged;
  return rc;
}

unsigned long DamagedStreamWatch::Count() { return g_damaged.load(); }
