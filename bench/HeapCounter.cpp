#include "bench/HeapCounter.h"

#include <atomic>

#if defined(__SANITIZE_ADDRESS__)
#define SELVANE_HEAP_COUNTER 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SELVANE_HEAP_COUNTER 0
#endif
#endif
#if !defined(SELVANE_HEAP_COUNTER) && defined(__GLIBC__)
#define SELVANE_HEAP_COUNTER 1
#endif
#ifndef SELVANE_HEAP_COUNTER
#define SELVANE_HEAP_COUNTER 0
#endif

namespace {
std::atomic<std::size_t> g_in_use{0};
std::atomic<std::size_t> g_peak{0};

[[maybe_unused]] void Added(std::size_t n) {
  const std::size_t now = g_in_use.fetch_add(n) + n;
  std::size_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
}
[[maybe_unused]] void Removed(std::size_t n) { g_in_use.fetch_sub(n); }
}  // namespace

namespace heap {
bool Available() { return SELVANE_HEAP_COUNTER != 0; }
std::size_t InUse() { return g_in_use.load(); }
void ResetPeak() { g_peak.store(g_in_use.load()); }
std::size_t Peak() { return g_peak.load(); }
}  // namespace heap

#if SELVANE_HEAP_COUNTER
#include <malloc.h>

#include <cstring>

// glibc's own entry points; ours wrap them and count usable sizes.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);
void* __libc_memalign(std::size_t, std::size_t);

void* malloc(std::size_t n) {
  void* p = __libc_malloc(n);
  if (p) Added(malloc_usable_size(p));
  return p;
}
void* calloc(std::size_t n, std::size_t size) {
  void* p = __libc_calloc(n, size);
  if (p) Added(malloc_usable_size(p));
  return p;
}
void* realloc(void* old, std::size_t n) {
  const std::size_t before = old ? malloc_usable_size(old) : 0;
  void* p = __libc_realloc(old, n);
  if (p) {
    Removed(before);
    Added(malloc_usable_size(p));
  } else if (n == 0 && old) {
    Removed(before);
  }
  return p;
}
void free(void* p) {
  if (p) Removed(malloc_usable_size(p));
  __libc_free(p);
}
void* memalign(std::size_t align, std::size_t n) {
  void* p = __libc_memalign(align, n);
  if (p) Added(malloc_usable_size(p));
  return p;
}
void* aligned_alloc(std::size_t align, std::size_t n) {
  return memalign(align, n);
}
int posix_memalign(void** out, std::size_t align, std::size_t n) {
  void* p = memalign(align, n);
  if (!p) return 12;  // ENOMEM
  *out = p;
  return 0;
}
}
#endif
