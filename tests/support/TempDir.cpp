#include "tests/support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device rd;
  std::mt19937_64 gen(rd());
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate =
        base / ("selvane-" + std::to_string(gen() % 1000000000ull));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate.string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  // The platform's own separator: on Windows the library cuts WDB paths at
  // the last backslash only.
#ifdef _WIN32
  return folder + "\\" + name;
#else
  return folder + "/" + name;
#endif
}

std::string TempDir::File(const std::string& name) const {
  return JoinPath(path_, name);
}

std::string TempDir::Write(const std::string& name,
                           const std::string& bytes) const {
  const std::string full = File(name);
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + full);
  return full;
}

std::wstring Widen(const std::string& narrow) {
  std::wstring wide(narrow.size(), L'\0');
  for (std::size_t i = 0; i < narrow.size(); ++i) {
    wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(narrow[i]));
  }
  return wide;
}
