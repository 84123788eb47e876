#ifndef SELVANE_TESTS_SUPPORT_UNTOLDSOURCE_H_
#define SELVANE_TESTS_SUPPORT_UNTOLDSOURCE_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "readers/ByteSource.h"

// Bytes in memory that do not tell their size, so that a window reads them
// in small refills that double: records then cross window edges at 4, 12,
// 28 KiB and so on. The bytes must outlive the source.
class UntoldSource : public CByteSource {
 public:
  explicit UntoldSource(const std::string& bytes) : bytes_(bytes) {}
  std::uint32_t ReadAt(std::uint32_t pos, char* dst, std::uint32_t n) override {
    if (pos >= bytes_.size()) return 0;
    const auto got = static_cast<std::uint32_t>(
        std::min<std::size_t>(n, bytes_.size() - pos));
    std::memcpy(dst, bytes_.data() + pos, got);
    return got;
  }

 private:
  const std::string& bytes_;
};

#endif  // SELVANE_TESTS_SUPPORT_UNTOLDSOURCE_H_
