#include "query/PathUtil.h"

#include <cstdint>
#include <utility>

namespace {

// A character that survives narrowing as itself and does not end the path
// early when handed on as a C string.
bool NarrowsExactly(wchar_t c) {
  // 1 .. 0xFF in one compare: NUL wraps to the top. wchar_t is signed on
  // some platforms; a negative value is no byte either.
  return static_cast<std::uint32_t>(c) - 1u < 0xFFu;
}

}  // namespace

std::string WideToNarrow(const std::wstring& wide) {
  std::string narrow(wide.size(), '\0');
  for (std::size_t i = 0; i < wide.size(); ++i) {
    narrow[i] = static_cast<char>(static_cast<std::uint32_t>(wide[i]) & 0xFFu);
  }
  return narrow;
}

bool NarrowExact(const std::wstring& wide, std::string* narrow) {
  // One pass with the length and data in locals and no branch per
  // character, so that it vectorises; the result is kept only when exact.
  const wchar_t* in = wide.data();
  const std::size_t n = wide.size();
  std::string made(n, '\0');
  char* out = &made[0];
  std::uint32_t refused = 0;
  for (std::size_t i = 0; i < n; ++i) {
    refused |= NarrowsExactly(in[i]) ? 0u : 1u;
    out[i] = static_cast<char>(in[i]);
  }
  if (refused != 0) return false;
  *narrow = std::move(made);
  return true;
}

std::string AfterFirstBackslash(const std::string& path) {
  const std::size_t cut = path.find('\\');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string AfterLastSeparator(const std::string& path) {
#ifdef _WIN32
  const std::size_t cut = path.find_last_of('\\');
#else
  const std::size_t cut = path.find_last_of("\\/");
#endif
  return cut == std::string::npos ? path : path.substr(cut + 1);
}
