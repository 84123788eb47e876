#ifndef SELVANE_TABLES_INDEXCACHE_H_
#define SELVANE_TABLES_INDEXCACHE_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#if defined(__GNUC__)
#define SELVANE_COLD __attribute__((noinline))
#else
#define SELVANE_COLD
#endif

// What one table keeps per field (its index, its layout), each built once on
// first use and kept until the table goes. Safe for any number of threads at
// once: the first user of a field builds its index under a lock, later users of
// the first kDirect fields find it with one atomic load.
template <typename Index>
class CIndexCache {
 public:
  CIndexCache() {
    for (auto& slot : direct_) slot.store(nullptr, std::memory_order_relaxed);
  }
  CIndexCache(const CIndexCache&) = delete;
  CIndexCache& operator=(const CIndexCache&) = delete;

  // The index of field, built by build() (a std::unique_ptr<Index>) when
  // there is none yet. Null when the build gave none (or threw).
  template <typename Build>
  const Index* Get(std::int32_t field, const Build& build) const {
    const Index* index = Peek(field);
    return index != nullptr ? index : GetLocked(field, build);
  }

  // The field's entry when it is one of the first kDirect fields and was
  // built before; null otherwise (Get then finds or builds it).
  const Index* Peek(std::int32_t field) const {
    if (static_cast<std::uint32_t>(field) >= kDirect) return nullptr;
    return direct_[static_cast<std::size_t>(field)].load(
        std::memory_order_acquire);
  }

  // Bytes held by every index built so far.
  template <typename Measure>
  std::size_t Bytes(const Measure& measure) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t total = 0;
    for (const auto& entry : built_) total += measure(*entry.second);
    return total;
  }

 private:
  static constexpr std::int32_t kDirect = 256;

  // Get's first use of a field, and every use of a field past the direct
  // ones: kept out of line so that the look-up above stays a few
  // instructions.
  template <typename Build>
  SELVANE_COLD const Index* GetLocked(std::int32_t field,
                                      const Build& build) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = built_.find(field);
    if (it == built_.end()) {
      std::unique_ptr<Index> made;
      try {
        made = build();
        if (made == nullptr) return nullptr;
        it = built_.emplace(field, std::move(made)).first;
      } catch (...) {
        return nullptr;
      }
    }
    if (field >= 0 && field < kDirect) {
      direct_[static_cast<std::size_t>(field)].store(it->second.get(),
                                                     std::memory_order_release);
    }
    return it->second.get();
  }

  mutable std::atomic<const Index*> direct_[kDirect];
  mutable std::mutex mutex_;
  mutable std::map<std::int32_t, std::unique_ptr<Index>> built_;
};

#endif  // SELVANE_TABLES_INDEXCACHE_H_
