#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "readers/ArchiveGuard.h"

namespace {

// A file changed less than this long ago is checked on every open: file
// times are coarse (a clock tick, up to 2 s on some file systems), so two
// writes close together may leave the same stamp.
constexpr std::int64_t kSettleSeconds = 3;

// Verdicts kept at most; when full, all are dropped and learnt again.
constexpr std::size_t kMaxVerdicts = 4096;

// The file's stamp as bytes, or "" when the file cannot be told apart from
// a changed one: not a regular file, changed too recently, or a system
// without a status-change time.
std::string StampOf(const std::string& path) {
#if defined(_WIN32)
  (void)path;
  return std::string();
#else
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  const std::int64_t now =
      std::chrono::duration_cast<std::chrono::seconds>(
          std::chrono::system_clock::now().time_since_epoch())
          .count();
  if (now - static_cast<std::int64_t>(st.st_ctim.tv_sec) < kSettleSeconds ||
      now - static_cast<std::int64_t>(st.st_mtim.tv_sec) < kSettleSeconds) {
    return {};
  }
  const std::int64_t words[] = {static_cast<std::int64_t>(st.st_dev),
                                static_cast<std::int64_t>(st.st_ino),
                                static_cast<std::int64_t>(st.st_size),
                                static_cast<std::int64_t>(st.st_mtim.tv_sec),
                                static_cast<std::int64_t>(st.st_mtim.tv_nsec),
                                static_cast<std::int64_t>(st.st_ctim.tv_sec),
                                static_cast<std::int64_t>(st.st_ctim.tv_nsec)};
  return std::string(reinterpret_cast<const char*>(words), sizeof words);
#endif
}

class VerdictStore {
 public:
  // 1 safe, 0 unsafe, -1 not known.
  int Find(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = verdicts_.find(key);
    return it == verdicts_.end() ? -1 : (it->second ? 1 : 0);
  }
  void Keep(const std::string& key, bool safe) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (verdicts_.size() >= kMaxVerdicts) verdicts_.clear();
    verdicts_[key] = safe;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, bool> verdicts_;
};

VerdictStore& Store() {
  static VerdictStore store;
  return store;
}

// A verdict for key from the store, or check() run and its verdict kept.
// Remembering is best effort: a failure to keep one changes nothing.
template <typename Check>
bool Remembered(const std::string& key, Check&& check) {
  if (key.empty()) return check();
  try {
    const int known = Store().Find(key);
    if (known >= 0) return known == 1;
  } catch (...) {
  }
  const bool safe = check();
  try {
    Store().Keep(key, safe);
  } catch (...) {
  }
  return safe;
}

}  // namespace

CArchiveGuards::CArchiveGuards(const std::string& path)
    : file_(path), path_(path) {
  try {
    stamp_ = StampOf(path);
  } catch (...) {
    stamp_.clear();
  }
}

bool CArchiveGuards::ArchiveIsSafe() {
  // Stamp and path (which holds no NUL) make the key; a table's key adds
  // its path after a NUL.
  const std::string key = stamp_.empty() ? std::string() : stamp_ + path_;
  return Remembered(key, [&] { return ArchiveIsSafeToOpen(&file_); });
}

bool CArchiveGuards::TableIsSafe(const std::string& tablePath, void* archive,
                                 void* table) {
  const std::string key =
      stamp_.empty() ? std::string()
                     : stamp_ + path_ + std::string(1, '\0') + tablePath;
  return Remembered(key,
                    [&] { return TableIsSafeToRead(&file_, archive, table); });
}
