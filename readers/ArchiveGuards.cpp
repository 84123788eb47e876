#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "readers/ArchiveGuard.h"

namespace {

// A file changed less than this long ago is checked on every open: file
// times are coarse (a clock tick, up to 2 s on some file systems), so two
// writes close together may leave the same stamp.
constexpr std::int64_t kSettleSeconds = 3;

// Archives remembered at most, and tables per archive; when full, all are
// dropped and learnt again.
constexpr std::size_t kMaxArchives = 256;
constexpr std::size_t kMaxTables = 64;

// What tells one state of one file from every other.
struct Stamp {
  std::int64_t words[7] = {};  // device, inode, size, both times (s, ns)
  bool operator==(const Stamp& other) const {
    for (int i = 0; i < 7; ++i) {
      if (words[i] != other.words[i]) return false;
    }
    return true;
  }
};

struct StampHash {
  std::size_t operator()(const Stamp& s) const {
    std::uint64_t h = 0x9E3779B97F4A7C15u;
    for (const std::int64_t w : s.words) {
      h = (h ^ static_cast<std::uint64_t>(w)) * 0x100000001B3u;
      h ^= h >> 29;
    }
    return static_cast<std::size_t>(h);
  }
};

// False when the file cannot be told apart from a changed one: not a
// regular file, changed too recently, or a system without a status-change
// time.
bool StampOf(const std::string& path, Stamp* stamp) {
#if defined(_WIN32)
  (void)path;
  (void)stamp;
  return false;
#else
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  if (now - static_cast<std::int64_t>(st.st_ctim.tv_sec) < kSettleSeconds ||
      now - static_cast<std::int64_t>(st.st_mtim.tv_sec) < kSettleSeconds) {
    return false;
  }
  *stamp = Stamp{{static_cast<std::int64_t>(st.st_dev),
                  static_cast<std::int64_t>(st.st_ino),
                  static_cast<std::int64_t>(st.st_size),
                  static_cast<std::int64_t>(st.st_mtim.tv_sec),
                  static_cast<std::int64_t>(st.st_mtim.tv_nsec),
                  static_cast<std::int64_t>(st.st_ctim.tv_sec),
                  static_cast<std::int64_t>(st.st_ctim.tv_nsec)}};
  return true;
#endif
}

// The verdicts on one state of an archive file: -1 not known, 0 unsafe,
// 1 safe.
struct Verdicts {
  int archive = -1;
  std::vector<std::pair<std::string, bool>> tables;
};

class VerdictStore {
 public:
  // Calls find(const Verdicts&) under the lock when a state is kept for
  // the stamp.
  template <typename Find>
  void Look(const Stamp& stamp, Find&& find) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = verdicts_.find(stamp);
    if (it != verdicts_.end()) find(it->second);
  }
  template <typename Update>
  void Keep(const Stamp& stamp, Update&& update) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (verdicts_.size() >= kMaxArchives) verdicts_.clear();
    update(verdicts_[stamp]);
  }

 private:
  std::mutex mutex_;
  std::unordered_map<Stamp, Verdicts, StampHash> verdicts_;
};

VerdictStore& Store() {
  static VerdictStore store;
  return store;
}

int TableVerdict(const Verdicts& v, const std::string& table) {
  for (const auto& known : v.tables) {
    if (known.first == table) return known.second ? 1 : 0;
  }
  return -1;
}

}  // namespace

CArchiveGuards::CArchiveGuards(const std::string& path,
                               const std::string& tablePath)
    : file_(path), table_path_(tablePath) {
  Stamp stamp;
  stamped_ = StampOf(path, &stamp);
  static_assert(sizeof stamp_ == sizeof stamp.words, "same stamp");
  std::memcpy(stamp_, stamp.words, sizeof stamp_);
  if (!stamped_) return;
  try {
    Store().Look(stamp, [this](const Verdicts& v) {
      archive_known_ = v.archive;
      table_known_ = TableVerdict(v, table_path_);
    });
  } catch (...) {
  }
}

// The kept verdict, or check() run and its verdict kept. Remembering is best
// effort: a failure to keep one changes nothing.
template <typename Check, typename Keep>
bool CArchiveGuards::Remembered(int known, Check&& check, Keep&& keep) {
  if (known >= 0) return known == 1;
  const bool safe = check();
  if (!stamped_) return safe;
  Stamp stamp;
  std::memcpy(stamp.words, stamp_, sizeof stamp_);
  try {
    Store().Keep(stamp, [&](Verdicts& v) { keep(v, safe); });
  } catch (...) {
  }
  return safe;
}

bool CArchiveGuards::ArchiveIsSafe() {
  return Remembered(
      archive_known_, [this] { return ArchiveIsSafeToOpen(&file_); },
      [](Verdicts& v, bool safe) { v.archive = safe ? 1 : 0; });
}

bool CArchiveGuards::TableIsSafe(void* archive, void* table) {
  return Remembered(
      table_known_, [&] { return TableIsSafeToRead(&file_, archive, table); },
      [this](Verdicts& v, bool safe) {
        if (v.tables.size() >= kMaxTables) v.tables.clear();
        v.tables.emplace_back(table_path_, safe);
      });
}
