#include "fuzz/ScratchDir.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

bool IsWritableFolder(const fs::path& dir) {
  std::error_code ec;
  return fs::is_directory(dir, ec) && access(dir.c_str(), W_OK | X_OK) == 0;
}

fs::path BaseFolder() {
  const fs::path shm("/dev/shm");
  if (IsWritableFolder(shm)) return shm;
  std::error_code ec;
  const fs::path tmp = fs::temp_directory_path(ec);
  return ec ? fs::path("/tmp") : tmp;
}

}  // namespace

ScratchDir::ScratchDir(const std::string& tag) {
  const fs::path dir =
      BaseFolder() / ("selvane-fuzz-" + tag + "-" + std::to_string(getpid()));
  std::error_code ec;
  fs::remove_all(dir, ec);  // left by an earlier process of the same pid
  if (fs::create_directories(dir, ec)) path_ = dir.string();
}

ScratchDir::~ScratchDir() {
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string ScratchDir::File(const std::string& name) const {
  return path_ + "/" + name;
}

bool ScratchDir::Write(const std::string& name, const std::uint8_t* data,
                       std::size_t size) const {
  if (!ok()) return false;
  std::FILE* out = std::fopen(File(name).c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = size == 0 || std::fwrite(data, 1, size, out) == size;
  return std::fclose(out) == 0 && written;
}

bool ScratchDir::Write(const std::string& name,
                       const std::string& bytes) const {
  return Write(name, reinterpret_cast<const std::uint8_t*>(bytes.data()),
               bytes.size());
}
