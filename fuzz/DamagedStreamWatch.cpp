#include "fuzz/DamagedStreamWatch.h"

#include <dlfcn.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<unsigned long> g_damaged{0};

template <typename Fn>
Fn Next(const char* name) {
  void* next = dlsym(RTLD_NEXT, name);
  if (next == nullptr) {
    std::fprintf(stderr, "DamagedStreamWatch: no %s to forward to\n", name);
    std::abort();
  }
  return reinterpret_cast<Fn>(next);
}

// The archive library's unpackers: out, *outSize (asked, then given), in,
// inSize; nonzero on success.
using Unpack = int (*)(void*, int*, void*, int);

// Forwards to the library's own unpacker and counts a success that gave
// fewer bytes than were asked for: the library accepts it and hands out
// the rest of its buffer unwritten. Covers every method, the imploded
// tables' included, whose unpacker is the library's own code.
int Watch(Unpack real, void* out, int* outSize, void* in, int inSize) {
  const int asked = *outSize;
  const int rc = real(out, outSize, in, inSize);
  if (rc != 0 && *outSize < asked) ++g_damaged;
  return rc;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int SCompDecompress(
    void* out, int* outSize, void* in, int inSize) {
  static const Unpack real = Next<Unpack>("SCompDecompress");
  return Watch(real, out, outSize, in, inSize);
}

extern "C" __attribute__((visibility("default"))) int SCompDecompress2(
    void* out, int* outSize, void* in, int inSize) {
  static const Unpack real = Next<Unpack>("SCompDecompress2");
  return Watch(real, out, outSize, in, inSize);
}

extern "C" __attribute__((visibility("default"))) int SCompExplode(void* out,
                                                                   int* outSize,
                                                                   void* in,
                                                                   int inSize) {
  static const Unpack real = Next<Unpack>("SCompExplode");
  return Watch(real, out, outSize, in, inSize);
}

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
  static const Inflate real = Next<Inflate>("inflate");
  const int rc = real(stream, flush);
  if (flush == Z_FINISH && (rc != Z_STREAM_END || stream->avail_out != 0)) {
    ++g_damaged;
  }
  return rc;
}

unsigned long DamagedStreamWatch::Count() { return g_damaged.load(); }
