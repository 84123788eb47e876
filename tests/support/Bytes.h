#ifndef SELVANE_TESTS_SUPPORT_BYTES_H_
#define SELVANE_TESTS_SUPPORT_BYTES_H_

#include <cstdint>
#include <cstring>
#include <string>

// Little-endian encoding for the files that fixtures, samples and benchmarks
// write.
inline void PutInt32(std::string& out, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(u >> (8 * i)));
}

inline void PutFloat(std::string& out, float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  PutInt32(out, static_cast<std::int32_t>(u));
}

#endif  // SELVANE_TESTS_SUPPORT_BYTES_H_
