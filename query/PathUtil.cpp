#include "query/PathUtil.h"

#include <cstdint>

namespace {

// A character that survives narrowing as itself and does not end the path
// early when handed on as a C string.
bool NarrowsExactly(wchar_t c) {
  // wchar_t is signed on some platforms; a negative value is no byte either.
  return c != L'\0' && static_cast<std::uint32_t>(c) <= 0xFFu;
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
  for (wchar_t c : wide) {
    if (!NarrowsExactly(c)) return false;
  }
  narrow->resize(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    (*narrow)[i] = static_cast<char>(wide[i]);
  }
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
