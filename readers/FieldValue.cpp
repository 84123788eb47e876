#include "readers/FieldValue.h"

namespace {

// Compares a text handed over in pieces with the key's text, byte for byte,
// without keeping it.
class TextMatcher {
 public:
  explicit TextMatcher(const std::string& want) : want_(want) {}

  void operator()(const char* p, std::size_t n) {
    if (same_) {
      same_ = n <= want_.size() - seen_ &&
              (n == 0 || std::memcmp(p, want_.data() + seen_, n) == 0);
    }
    seen_ += n;
  }
  bool matched() const { return same_ && seen_ == want_.size(); }

 private:
  const std::string& want_;
  std::size_t seen_ = 0;
  bool same_ = true;
};

// The length of the text at the window's cursor when the window holds it
// through its NUL; false otherwise.
bool HeldText(const CReadWindow& window, const char** text, std::size_t* n) {
  const char* held = nullptr;
  const std::size_t avail = window.Peek(&held);
  const void* nul = avail != 0 ? std::memchr(held, '\0', avail) : nullptr;
  if (nul == nullptr) return false;
  *text = held;
  *n = static_cast<std::size_t>(static_cast<const char*>(nul) - held);
  return true;
}

}  // namespace

int MatchTextAt(CReadWindow& window, std::int64_t pos, const DBParam_t& key) {
  if (window.Seek(pos) != 0) return -1;
  const char* text = nullptr;
  std::size_t n = 0;
  if (HeldText(window, &text, &n)) {
    window.Skip(static_cast<std::int64_t>(n) + 1);
    return TextMatches(text, n, key) ? 1 : 0;
  }
  TextMatcher matcher(key.strValue);
  if (window.ReadThrough('\0', matcher) != 0) return -1;
  return matcher.matched() ? 1 : 0;
}

int AppendTextAt(CReadWindow& window, std::int64_t pos, std::string& out) {
  const std::size_t old_size = out.size();
  int status = -1;
  try {
    if (window.Seek(pos) == 0) {
      status = window.ReadThrough(
          '\0', [&out](const char* p, std::size_t n) { out.append(p, n); });
    }
  } catch (...) {  // out of memory, or longer than a string can hold
    window.Fail();
    status = -1;
  }
  if (status != 0) out.resize(old_size);
  return status;
}

int TextAt(CReadWindow& window, std::int64_t pos, std::string& scratch,
           const char** text, std::size_t* n) {
  if (window.Load(pos) != 0) return -1;
  if (HeldText(window, text, n)) {
    window.Skip(static_cast<std::int64_t>(*n) + 1);
    return 0;
  }
  scratch.clear();
  if (AppendTextAt(window, pos, scratch) != 0) return -1;
  *text = scratch.data();
  *n = scratch.size();
  return 0;
}
